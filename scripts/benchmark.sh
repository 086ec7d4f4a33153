#!/usr/bin/env bash
# Load benchmark of alias_manager: for each table size, start the program on a
# record file of that many records in random alias order (start-up loads and
# lists it), quit, and report the best wall time of three runs, the time per
# record net of the start-up of an empty table, and the peak resident memory.
# A table of 50000 records in alias order (a chain) follows.
#   scripts/benchmark.sh [sizes...]     default: 1000 10000 100000 1000000
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target alias_manager make_table >/dev/null
binary=$PWD/build-bench/alias_manager/alias_manager
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 100000 1000000)

# Best wall time in seconds of three runs on $work/ZD482_Inet.txt; peak memory in $work/time.
best_of_three() {
    local best="" start end seconds
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        (cd "$work" && printf '8\n' | /usr/bin/time -f '%M' -o "$work/time" "$binary" > "$work/out")
        end=$(date +%s.%N)
        seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
        best=$(awk -v a="${best:-$seconds}" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
    done
    echo "$best"
}

: > "$work/ZD482_Inet.txt"
baseline=$(best_of_three)
printf 'start-up with an empty table: %.4f s\n' "$baseline"
printf '%-7s %9s %11s %12s %11s\n' order records wall per-record peak-RSS
run() {  # order size
    build-bench/bench/make_table "$2" "$1" > "$work/ZD482_Inet.txt"
    local seconds kib
    seconds=$(best_of_three)
    grep -q "Number of nodes: $2" "$work/out" || { echo "listing of $2 records is incomplete" >&2; exit 1; }
    read -r kib < "$work/time"
    awk -v o="$1" -v n="$2" -v s="$seconds" -v b="$baseline" -v k="$kib" \
        'BEGIN { printf "%-7s %9d %9.3f s %9.3f us %8.1f MB\n", o, n, s, (s - b) * 1e6 / n, k / 1024 }'
}
for n in "${sizes[@]}"; do run random "$n"; done
run sorted 50000
