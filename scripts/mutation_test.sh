#!/usr/bin/env bash
# Mutation test: puts each plausible single-line fault listed in a mutants
# file into the code, one at a time, rebuilds, and runs the tests; a fault
# that no test notices "survives".
#   scripts/mutation_test.sh [MUTANTS_FILE] [BUILD_DIR]
# Mutants file (default scripts/mutants.txt): one fault a line,
#   path<TAB>text as it stands<TAB>text with the fault
# where the text stands exactly once in the file; in the texts "\t", "\n"
# and "\\" stand for a tab, a newline and a backslash; lines starting with #
# are comments.
# The results go to BUILD_DIR/mutants.tsv (default build-mutation).
set -euo pipefail
cd "$(dirname "$0")/.."
# A fault in the save can rename its new file over a device that a test saves
# to, or remove it: as root that would replace /dev/null for the whole
# machine. So the faults run in a mount namespace of their own, where those
# devices are mount points, which no rename or removal can touch.
if [ "$(id -u)" = 0 ] && [ -z "${MUTATION_DEVICES_GUARDED:-}" ]; then
  exec env MUTATION_DEVICES_GUARDED=1 unshare --mount --propagation private \
    sh -c 'for d in /dev/null /dev/full /dev/zero /dev/tty; do mount --bind "$d" "$d"; done; exec "$0" "$@"' "$0" "$@"
fi
mutants=${1:-scripts/mutants.txt}
build=${2:-build-mutation}
results=$build/mutants.tsv

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j2 >/dev/null
ctest --test-dir "$build" -j2 -E 'install|package' >/dev/null ||
  { echo "the tests fail without any fault; fix that first"; exit 1; }

backup=$(mktemp)
current=""
restore() { if [ -n "$current" ]; then cp "$backup" "$current"; current=""; fi; }
trap 'restore; rm -f "$backup"' EXIT
trap 'exit 130' INT TERM

# Applies one fault with Python, which takes the texts literally.
apply() {
  python3 - "$1" "$2" "$3" <<'PY'
import codecs, sys
path, old, new = (sys.argv[1],) + tuple(codecs.decode(t, "unicode_escape") for t in sys.argv[2:4])
text = open(path).read()
if text.count(old) != 1:
    sys.exit(f"{path}: the text stands {text.count(old)} times: {old!r}")
open(path, "w").write(text.replace(old, new))
PY
}

# The fast unit tests first, then every test; killed at the first failure.
caught() {
  for unit in "$build"/common/tests/common_tests "$build"/alias_manager/save/tests/alias_save_tests \
              "$build"/alias_manager/table/tests/alias_table_tests "$build"/alias_manager/records/tests/alias_records_tests \
              "$build"/alias_manager/console/tests/alias_console_tests; do
    # The subshell waits itself (no exec), so a crash is told to /dev/null.
    (timeout 300 "$unit"; exit $?) >/dev/null 2>&1 || return 0
  done
  ! timeout 1200 ctest --test-dir "$build" -j2 --stop-on-failure -E 'install|package' >/dev/null 2>&1
}

# Every text must stand once before the long run starts.
python3 - "$mutants" <<'PY'
import codecs, sys
bad = 0
for number, line in enumerate(open(sys.argv[1]), 1):
    if not line.strip() or line.startswith("#"):
        continue
    path, old, new = line.rstrip("\n").split("\t")
    count = open(path).read().count(codecs.decode(old, "unicode_escape"))
    if count != 1:
        print(f"line {number}: {path}: the text stands {count} times: {old}")
        bad += 1
sys.exit(bad != 0)
PY

printf 'result\tpath\tfault\n' > "$results"
total=0 killed=0 survived=0 stillborn=0
while IFS=$'\t' read -r path old new; do
  [ -z "$path" ] || [ "${path:0:1}" = "#" ] && continue
  total=$((total + 1))
  cp "$path" "$backup"
  current=$path
  apply "$path" "$old" "$new"
  if ! cmake --build "$build" -j2 >/dev/null 2>&1; then
    result=stillborn; stillborn=$((stillborn + 1))
  elif caught; then
    result=killed; killed=$((killed + 1))
  else
    result=SURVIVED; survived=$((survived + 1))
  fi
  restore
  printf '%s\t%s\t%s -> %s\n' "$result" "$path" "$old" "$new" | tee -a "$results"
done < "$mutants"
cmake --build "$build" -j2 >/dev/null

live=$((killed + survived))
echo "mutants: $total; did not build: $stillborn; caught: $killed of $live ($(( live ? 1000 * killed / live : 0 )) per mille); survived: $survived"
