#!/usr/bin/env bash
# Builds everything and runs every test through CTest.
#   scripts/test.sh [build-dir] [extra CMake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh
build=${1:-build}
shift || true
cmake -S . -B "$build" -DWARNINGS_AS_ERRORS=ON "$@"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
