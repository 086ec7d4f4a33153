#!/usr/bin/env bash
# Checks for every package the build, the tests and CI need, and installs the
# missing ones with apt-get (as root, on Debian).
set -euo pipefail

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/absl/container/btree_map.h ] || missing+=(libabsl-dev)
command -v clang++ >/dev/null || missing+=(clang)
if ! command -v clang++ >/dev/null || [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
  missing+=(libclang-rt-14-dev)
fi
command -v mandoc >/dev/null || missing+=(mandoc)
command -v man >/dev/null || missing+=(man-db)
command -v dpkg-deb >/dev/null || missing+=(dpkg)
command -v lintian >/dev/null || missing+=(lintian)
command -v setfacl >/dev/null || missing+=(acl)
command -v setfattr >/dev/null || missing+=(attr)
command -v strace >/dev/null || missing+=(strace)  # a launcher test's fault injection
command -v clang-tidy >/dev/null || missing+=(clang-tidy)  # scripts/tidy.sh
[ -x /usr/bin/time ] || missing+=(time)  # the benchmark's peak memory
command -v python3 >/dev/null || missing+=(python3)  # the benchmark's timing, the mutation test
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
