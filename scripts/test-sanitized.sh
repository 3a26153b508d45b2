#!/bin/sh
# Development check: builds every target with AddressSanitizer and
# UndefinedBehaviorSanitizer into ./build-asan and runs the whole suite there.
# Expects what ./scripts/test.sh installs. Any sanitizer report fails the test
# that caused it; the leak check ignores only the suppressions listed in
# scripts/sanitizer-leaks.supp.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DVELOCITRIX_SANITIZE=ON
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
LSAN_OPTIONS="suppressions=$root/scripts/sanitizer-leaks.supp:print_suppressions=0"
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
cd build-asan
ctest --output-on-failure -j"$(nproc)"
