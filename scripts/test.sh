#!/bin/sh
# Installs what is missing, builds Release and runs every test through CTest.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)"
