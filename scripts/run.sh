#!/bin/sh
# Installs what is missing, builds Release and starts Velocitrix.
# Arguments are passed to the program (for example -debug).
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
if [ -x build/app/velocitrix ]; then
  exec build/app/velocitrix "$@"
fi
# Without the window: every test through the development driver.
exec build/bench/vx-bench "$@" all
