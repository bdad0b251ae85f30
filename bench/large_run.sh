#!/usr/bin/env bash
# Whole runs at scale: 1 M and 10 M synthetic points at -j 1 and -j 2, and
# 10^8 points with and without a memory budget (-m 512). Prints seconds, peak
# resident memory and whether the results are identical.
#   bench/large_run.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?build dir}
work=${2:-${TMPDIR:-/tmp}/krel-large}
mkdir -p "$work"
gen() { [ -f "$work/t$1.xyz" ] || "$build/krel_gen" "$1" > "$work/t$1.xyz"; }
run() {  # tag, args...
  local tag=$1; shift
  /usr/bin/time -f "$tag: %e s wall, %U s user, %M KB peak" "$build/krel" "$@" -p "$work/$tag" > "$work/$tag.out" 2> "$work/$tag.time" || { cat "$work/$tag.time"; exit 1; }
  tail -1 "$work/$tag.time"
}
for n in 1000000 10000000; do
  gen $n
  run "n${n}_j1" "$work/t$n.xyz" -j 1
  run "n${n}_j2" "$work/t$n.xyz" -j 2
  cmp "$work/n${n}_j1.xyz" "$work/n${n}_j2.xyz" && cmp "$work/n${n}_j1.err" "$work/n${n}_j2.err" && echo "  -j 1 and -j 2 identical"
done
if [ "${KREL_LARGE:-}" = 1 ]; then
  n=100000000
  gen $n
  run "n${n}_mem" "$work/t$n.xyz" -j 2
  run "n${n}_m512" "$work/t$n.xyz" -j 2 -m 512
  cmp "$work/n${n}_mem.xyz" "$work/n${n}_m512.xyz" && cmp "$work/n${n}_mem.err" "$work/n${n}_m512.err" && echo "  with and without -m identical"
fi
