#!/usr/bin/env bash
# Benchmark of alias_manager. For each build order (random, sorted, reverse,
# zigzag, and crafted: aliases made to collide under an unkeyed hash) and
# table size, start the program on a record file of that many
# records, list the table again and quit (start-up loads and lists it: the
# table is listed twice), and report the best wall time and the best CPU time
# (user + system) of RUNS runs (default 5; small tables: as many more as fit in
# a second, up to 20), each net of the same run on an empty table and per
# record, and the peak resident memory. Then 10^4 look-ups and 10^3 deletes of
# random aliases on the largest chain (sorted order), each net of loading
# that chain and quitting.
#
#   scripts/benchmark.sh [--compare OLD_BINARY] [sizes...]
#       default sizes: 1000 10000 100000 1000000; at most 10000000
#   --compare OLD_BINARY   measures another alias_manager (an older build)
#       in the same run. Its sorted, reverse and zigzag tables stop at
#       OLD_MAX records (default 100000), and its crafted ones at
#       OLD_CRAFTED_MAX (default 40000), as it may take quadratic time.
#
# Results go to build-bench/results.txt; with gnuplot installed, a log-log
# plot of CPU time per record against size, one line per order and program,
# goes to build-bench/time_per_record.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
old_binary=""
if [ "${1:-}" = "--compare" ]; then
  old_binary=$(realpath "${2:?"usage: scripts/benchmark.sh [--compare OLD_BINARY] [sizes...]"}")
  shift 2
fi
old_max=${OLD_MAX:-100000}
old_crafted_max=${OLD_CRAFTED_MAX:-40000}
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
orders=(random sorted reverse zigzag crafted)

# One run of binary $1 in $work with standard input from file $2 and standard
# output to $work/out: prints its wall time and CPU time (user + system) in
# seconds, to the microsecond from the kernel's account of the child (where
# /usr/bin/time rounds to hundredths), and its peak memory in KiB, which
# /usr/bin/time takes (a child of python would start with python's).
run_once() {
  (cd "$work" && python3 -c '
import os, sys, time
start = time.monotonic()
pid = os.fork()
if pid == 0:
    os.dup2(os.open(sys.argv[2], os.O_RDONLY), 0)
    os.dup2(os.open("out", os.O_WRONLY | os.O_CREAT | os.O_TRUNC), 1)
    os.execv("/usr/bin/time", ["/usr/bin/time", "-f", "%M", "-o", "time", sys.argv[1]])
_, status, usage = os.wait4(pid, 0)
wall = time.monotonic() - start
if status != 0:
    sys.exit("the program ended with status %d" % status)
print("%.6f %.6f %s" % (wall, usage.ru_utime + usage.ru_stime, open("time").read().split()[-1]))
' "$1" "$2")
}

# Runs binary $1 on $work/ZD482_Inet.txt with standard input from file $2,
# RUNS times or more; prints the best wall time and the best CPU time in
# seconds, and leaves the peak memory in KiB in $work/time.
best_time() {
  local wall="" cpu="" seconds used run kib peak=0 total=0
  for run in $(seq 20); do
    read -r seconds used kib < <(run_once "$1" "$2")
    [ "$kib" -gt "$peak" ] && peak=$kib
    wall=$(awk -v a="${wall:-$seconds}" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
    cpu=$(awk -v a="${cpu:-$used}" -v b="$used" 'BEGIN { print (b < a ? b : a) }')
    total=$(awk -v t="$total" -v s="$seconds" 'BEGIN { print t + s }')
    awk -v t="$total" -v r="$run" -v n="$runs" 'BEGIN { exit !(r >= n && t >= 1) }' && break
  done
  echo "$peak" > "$work/time"
  echo "$wall $cpu"
}

runs=${RUNS:-5}
for n in "${sizes[@]}"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] && [ "$n" -le 10000000 ] ||
    { echo "benchmark.sh: a size is a number of records from 1 to 10000000, not '$n'" >&2; exit 2; }
done
printf '5\n\n8\n' > "$work/list_and_quit"
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
  baseline[$p]=$(best_time "${binary[$p]}" "$work/list_and_quit")
  printf 'start-up of %s with an empty table: %.4f s wall, %.4f s CPU\n' "$p" ${baseline[$p]}
done

: > "$results"
printf '%-4s %-16s %9s %11s %12s %11s %12s %11s\n' prog test records net-wall per-op net-CPU per-op peak-RSS
# Prints and records one result: program, test, records, "wall CPU" seconds
# and the same of the run to subtract, divisor, KiB.
report() {
  awk -v p="$1" -v t="$2" -v n="$3" -v m="$4" -v b="$5" -v d="$6" -v k="$7" 'BEGIN {
    split(m, s, " "); split(b, z, " "); w = s[1] - z[1]; c = s[2] - z[2]
    printf "%-4s %-16s %9d %9.3f s %9.3f us %9.3f s %9.3f us %8.1f MB\n", p, t, n, w, w * 1e6 / d, c, c * 1e6 / d, k / 1024
  }' | tee -a "$results"
}
for order in "${orders[@]}"; do
  for n in "${sizes[@]}"; do
    "$make_table" "$n" "$order" > "$work/ZD482_Inet.txt"
    for p in "${programs[@]}"; do
      [ "$p" = old ] && [ "$order" != random ] && [ "$n" -gt "$old_max" ] && continue
      [ "$p" = old ] && [ "$order" = crafted ] && [ "$n" -gt "$old_crafted_max" ] && continue
      measured=$(best_time "${binary[$p]}" "$work/list_and_quit")
      [ "$(grep -c "^Number of nodes: $n\$" "$work/out")" -eq 2 ] ||
        { echo "$p: the listings of $n records are incomplete" >&2; exit 1; }
      report "$p" "$order" "$n" "$measured" "${baseline[$p]}" "$n" "$(cat "$work/time")"
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
  loaded=$(best_time "${binary[$p]}" "$work/quit")
  for test in lookups deletes; do
    measured=$(best_time "${binary[$p]}" "$work/$test")
    count=$(grep -c -e '^Address found' "$work/out" || true)
    [ "$count" -eq "$(grep -c '^n' "$work/$test")" ] || { echo "$p: $test found $count aliases" >&2; exit 1; }
    report "$p" "$test-on-chain" "$n" "$measured" "$loaded" "$(grep -c '^n' "$work/$test")" "$(cat "$work/time")"
  done
done

if command -v gnuplot >/dev/null; then
  plot=""
  declare -A colour=([random]="#9400d3" [sorted]="#009e73" [reverse]="#0072b2" [zigzag]="#e69f00" [crafted]="#d55e00")
  for p in "${programs[@]}"; do
    for order in "${orders[@]}"; do
      grep -q "^$p *$order " "$results" || continue
      label=$([ "$p" = new ] && echo "$order" || echo "$order, before")
      style=$([ "$p" = new ] && echo "lw 2 pt 7" || echo "dt 2 lw 1.5 pt 6")
      plot+="${plot:+, }'< grep \"^$p *$order \" $results' using 3:10 with linespoints $style lc rgb '${colour[$order]}' title '$label'"
    done
  done
  gnuplot <<EOF
set terminal svg size 760,480 dynamic font "sans,12"
set output "build-bench/time_per_record.svg"
set logscale xy
set format x "10^{%L}"
set format y "%g"
set xrange [800:12500000]
set xlabel "records N"
set ylabel "load, list twice, quit: CPU time per record (µs)"
set key outside right
set grid
plot $plot
EOF
  echo "plot: build-bench/time_per_record.svg"
fi
