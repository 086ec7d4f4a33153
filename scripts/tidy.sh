#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the programs' sources
# (not the tests, the fuzz targets or the benchmark), from the compile
# commands of the default build (build/compile_commands.json, which
# scripts/test.sh leaves); any warning fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh
[ -f build/compile_commands.json ] || cmake --preset default >/dev/null
git ls-files '*.cpp' | grep -v -E '(^|/)tests?/|_test\.|^test_support/|^fuzz/|^bench/' |
  xargs -P 2 -n 4 clang-tidy -p build --quiet
echo "clang-tidy: no warnings"
