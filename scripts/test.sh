#!/usr/bin/env bash
# Builds and runs the tests of one workflow preset of CMakePresets.json
# (configure, build, test), warnings as errors:
#   scripts/test.sh            every program and test, in build/
#   scripts/test.sh sanitize   the same under AddressSanitizer and
#                              UndefinedBehaviorSanitizer, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 1 ]; then
  echo "usage: scripts/test.sh [PRESET]   (presets: cmake --list-presets=workflow)" >&2
  exit 2
fi
scripts/packages.sh
cmake --workflow --preset "${1:-default}"
