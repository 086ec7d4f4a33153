#!/usr/bin/env bash
# Benchmark of alias_manager. For each build order (random, sorted, reverse,
# zigzag) and table size, start the program on a record file of that many
# records (start-up loads and lists it), quit, and report the best wall time
# of three runs or more (small tables: as many as fit in a second, up to 20;
# a run over 10 s is not repeated), the time per record
# net of the start-up of an empty table, and the peak resident memory. Then
# 10^4 look-ups and 10^3 deletes of random aliases on the largest chain
# (sorted order), reported net of loading that chain.
#
#   scripts/benchmark.sh [--compare OLD_BINARY] [sizes...]
#       default sizes: 1000 10000 100000 1000000
#   --compare OLD_BINARY   measures another alias_manager (an older build)
#       in the same run. Its sorted, reverse and zigzag tables stop at
#       OLD_MAX records (default 100000), as it may take quadratic time.
#
# Results go to build-bench/results.txt; with gnuplot installed, a log-log
# plot of time per record against size, one line per order and program, goes
# to build-bench/time_per_record.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
old_binary=""
if [ "${1:-}" = "--compare" ]; then
  old_binary=$(realpath "${2:?"usage: scripts/benchmark.sh [--compare OLD_BINARY] [sizes...]"}")
  shift 2
fi
old_max=${OLD_MAX:-100000}
# The preset bench: a Release build in build-bench/ with the table generator.
cmake --preset bench >/dev/null
cmake --build --preset bench --target alias_manager make_table >/dev/null
new_binary=$PWD/build-bench/alias_manager/alias_manager
make_table=$PWD/build-bench/bench/make_table
results=$PWD/build-bench/results.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 100000 1000000)
orders=(random sorted reverse zigzag)

# Best wall time in seconds of the runs of binary $1 on $work/ZD482_Inet.txt
# with standard input from file $2; its peak memory in KiB in $work/time.
best_time() {
  local best="" start end seconds run kib peak=0 total=0
  for run in $(seq 20); do
    start=$(date +%s.%N)
    (cd "$work" && /usr/bin/time -f '%M' -o "$work/time" "$1" < "$2" > "$work/out")
    end=$(date +%s.%N)
    read -r kib < "$work/time"
    [ "$kib" -gt "$peak" ] && peak=$kib
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    best=$(awk -v a="${best:-$seconds}" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
    total=$(awk -v t="$total" -v s="$seconds" 'BEGIN { print t + s }')
    awk -v s="$seconds" -v t="$total" -v r="$run" 'BEGIN { exit !(s > 10 || (r >= 3 && t >= 1)) }' && break
  done
  echo "$peak" > "$work/time"
  echo "$best"
}

printf '8\n' > "$work/quit"
programs=(new)
declare -A binary=([new]=$new_binary)
if [ -n "$old_binary" ]; then
  programs+=(old)
  binary[old]=$old_binary
fi
declare -A baseline
: > "$work/ZD482_Inet.txt"
for p in "${programs[@]}"; do
  baseline[$p]=$(best_time "${binary[$p]}" "$work/quit")
  printf 'start-up of %s with an empty table: %.4f s\n' "$p" "${baseline[$p]}"
done

: > "$results"
printf '%-4s %-16s %9s %11s %12s %11s\n' prog test records net-time per-op peak-RSS
# Prints and records one result: program, test, records, seconds, divisor, KiB.
report() {
  awk -v p="$1" -v t="$2" -v n="$3" -v s="$4" -v d="$5" -v k="$6" \
    'BEGIN { printf "%-4s %-16s %9d %9.3f s %9.3f us %8.1f MB\n", p, t, n, s, s * 1e6 / d, k / 1024 }' |
    tee -a "$results"
}
declare -A load_time
for order in "${orders[@]}"; do
  for n in "${sizes[@]}"; do
    "$make_table" "$n" "$order" > "$work/ZD482_Inet.txt"
    for p in "${programs[@]}"; do
      [ "$p" = old ] && [ "$order" != random ] && [ "$n" -gt "$old_max" ] && continue
      seconds=$(best_time "${binary[$p]}" "$work/quit")
      grep -q "Number of nodes: $n" "$work/out" || { echo "$p: listing of $n records is incomplete" >&2; exit 1; }
      load_time[$p.$order.$n]=$seconds
      report "$p" "$order" "$n" "$(awk -v s="$seconds" -v b="${baseline[$p]}" 'BEGIN { print s - b }')" "$n" \
        "$(cat "$work/time")"
    done
  done
done

# Look-ups and deletes of random aliases of the largest chain each program loaded.
largest=${sizes[-1]}
for p in "${programs[@]}"; do
  n=$largest
  [ "$p" = old ] && [ "$n" -gt "$old_max" ] && n=$(printf '%s\n' "${sizes[@]}" | awk -v m="$old_max" '$1 <= m' | tail -n 1)
  [ -n "$n" ] || continue
  "$make_table" "$n" sorted > "$work/ZD482_Inet.txt"
  shuf -i 0-$((n - 1)) -n 10000 -r --random-source=<(yes) | awk '{ printf "2\nn%07d\n\n", $1 }' > "$work/lookups"
  shuf -i 0-$((n - 1)) -n 1000 --random-source=<(yes) | awk '{ printf "4\nn%07d\ny\n\n", $1 }' > "$work/deletes"
  echo 8 >> "$work/lookups"
  echo 8 >> "$work/deletes"
  for test in lookups deletes; do
    seconds=$(best_time "${binary[$p]}" "$work/$test")
    count=$(grep -c -e '^Address found' "$work/out" || true)
    [ "$count" -eq "$(grep -c '^n' "$work/$test")" ] || { echo "$p: $test found $count aliases" >&2; exit 1; }
    net=$(awk -v s="$seconds" -v l="${load_time[$p.sorted.$n]}" 'BEGIN { print s - l }')
    report "$p" "$test-on-chain" "$n" "$net" "$(grep -c '^n' "$work/$test")" "$(cat "$work/time")"
  done
done

if command -v gnuplot >/dev/null; then
  plot=""
  declare -A colour=([random]="#9400d3" [sorted]="#009e73" [reverse]="#0072b2" [zigzag]="#e69f00")
  for p in "${programs[@]}"; do
    for order in "${orders[@]}"; do
      grep -q "^$p *$order " "$results" || continue
      label=$([ "$p" = new ] && echo "$order, alias index" || echo "$order, before")
      style=$([ "$p" = new ] && echo "lw 2 pt 7" || echo "dt 2 lw 1.5 pt 6")
      plot+="${plot:+, }'< grep \"^$p *$order \" $results' using 3:6 with linespoints $style lc rgb '${colour[$order]}' title '$label'"
    done
  done
  gnuplot <<EOF
set terminal svg size 760,480 dynamic font "sans,12"
set output "build-bench/time_per_record.svg"
set logscale xy
set format x "10^{%L}"
set format y "%g"
set xrange [800:1250000]
set xlabel "records N"
set ylabel "load, list and quit: time per record (µs)"
set key outside right
set grid
plot $plot
EOF
  echo "plot: build-bench/time_per_record.svg"
fi
