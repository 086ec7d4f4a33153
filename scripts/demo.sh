#!/usr/bin/env bash
# Builds alias_manager and starts it on a copy of the sample table
# (sample/ZD482_Inet.txt) in a new temporary directory, so that what the
# session saves stays out of the repository. Installs only what the build
# needs: a compiler, make, CMake, Abseil, and GoogleTest and gzip, which the
# configure step looks for (the tests and the manual pages).
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
command -v cmake >/dev/null || missing+=(cmake)
command -v gzip >/dev/null || missing+=(gzip)
[ -f /usr/include/absl/container/btree_map.h ] || missing+=(libabsl-dev)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
cmake --preset default >/dev/null
cmake --build --preset default --target alias_manager >/dev/null
work=$(mktemp -d)
cp sample/ZD482_Inet.txt "$work/"
echo "(the session works in $work)"
cd "$work"
exec "$OLDPWD/build/alias_manager/alias_manager"
