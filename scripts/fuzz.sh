#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with the preset fuzz: clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, in build-fuzz/; replays
# their seeds and regression inputs as CTest tests; then runs each target on a
# working copy of its seed corpus (fuzz/corpus/<name>/) and its saved crash
# inputs (fuzz/regressions/<name>/). The corpus in the repository is only read.
#
#   scripts/fuzz.sh              CI run: seed 1 and a fixed number of runs per
#                                target, about a minute and a half in all
#   scripts/fuzz.sh --long SECS  long run: SECS seconds per target, random seed;
#                                the working corpus is kept in
#                                build-fuzz/long-corpus/<name>/ and grows from
#                                one long run to the next
#   FUZZ_SECONDS=SECS scripts/fuzz.sh    same as --long SECS
#
# Exits non-zero when a target reports a crash, a violated property, a
# sanitizer error, a leak or a hang (no progress for 10 s). The input is then
# copied to build-fuzz/artifacts/<name>/ and the end of the report printed;
# the whole log is in build-fuzz/logs/<name>.log. A crash input becomes a
# regression input by saving it under fuzz/regressions/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz  # binaryDir of the preset fuzz

long_seconds=${FUZZ_SECONDS:-}
if [ "${1:-}" = "--long" ]; then
  long_seconds=${2:?"usage: scripts/fuzz.sh [--long SECONDS]"}
elif [ $# -gt 0 ]; then
  echo "usage: scripts/fuzz.sh [--long SECONDS]" >&2
  exit 2
fi
if [ -n "$long_seconds" ] && ! [[ "$long_seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: the long run takes a whole number of seconds, not '$long_seconds'" >&2
  exit 2
fi

if ! command -v clang++ >/dev/null ||
   [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
  echo "fuzz.sh: needs clang++ and its libFuzzer runtime (Debian: clang, libclang-rt-14-dev)" >&2
  exit 2
fi

# name, longest input, runs in the CI run
targets=(
  "record_line 512 1200000"
  "extract 512 2000000"
  "session 4096 80000"
)

# Configure, build the fuzz targets, replay the seeds and regression inputs.
cmake --workflow --preset fuzz

export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/logs"

failed=()
for entry in "${targets[@]}"; do
  read -r name max_len ci_runs <<<"$entry"
  work=$scratch/$name
  mkdir -p "$work"
  if [ -n "$long_seconds" ]; then
    corpus=$build/long-corpus/$name
    budget=(-runs=-1 -max_total_time="$long_seconds")
  else
    corpus=$work/corpus
    # The time limit only guards a slow machine; the runs decide.
    budget=(-seed=1 -runs="$ci_runs" -max_total_time=45 -reload=0)
  fi
  mkdir -p "$corpus"
  cp fuzz/corpus/"$name"/* "$corpus"/
  if [ -d fuzz/regressions/"$name" ]; then
    find fuzz/regressions/"$name" -type f -exec cp {} "$corpus"/ \;
  fi

  rm -rf "$build/artifacts/$name"
  log=$build/logs/$name.log
  echo "== fuzz_$name =="
  status=0
  # Run from the scratch directory, which then holds libFuzzer's reports; the
  # session target makes its jail there too (TMPDIR).
  (cd "$work" && TMPDIR=$work "$build/fuzz/fuzz_$name" "${budget[@]}" -max_len="$max_len" \
     -timeout=10 -print_final_stats=1 "$corpus") >"$log" 2>&1 || status=$?

  # The session's own messages name files after fuzzed text: leave them out
  # before looking for reports.
  reports=$(grep -v -e "^Cannot save to '" -e '^Openfile failed: ' "$log" |
            grep -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|property violated' || true)
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done [0-9]+ runs)' "$log" || true
  if [ "$status" -ne 0 ] || [ -n "$reports" ]; then
    failed+=("$name")
    mkdir -p "$build/artifacts/$name"
    find "$work" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) \
      -exec cp {} "$build/artifacts/$name"/ \;
    echo "fuzz_$name FAILED (exit status $status); end of its report:"
    grep -v -e "^Cannot save to '" -e '^Openfile failed: ' "$log" | tail -n 60
    echo "inputs saved in $build/artifacts/$name/:"
    ls "$build/artifacts/$name"
  fi
  rm -rf "$work"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}"
  exit 1
fi
echo "fuzzing found no problems"
