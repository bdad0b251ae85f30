#!/usr/bin/env bash
# The README's recipe for a folder of tiles, one run per file with GNU
# parallel: each result and listing must equal those of a run by hand.
# Usage: gnu_parallel.sh KREL KREL_GEN; exit 77 (skipped) without parallel.
set -euo pipefail
krel=$(realpath "$1")
gen=$(realpath "$2")
if ! command -v parallel >/dev/null; then
  echo "GNU parallel not found (apt-get install parallel): skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir tiles
for seed in 1 2 3; do "$gen" 20000 "$seed" > "tiles/t$seed.xyz"; done
export PATH="$(dirname "$krel"):$PATH"

# As the README gives it.
mkdir -p thinned
parallel -j 2 krel {} -j 1 -p thinned/{/.} ::: tiles/*.xyz > parallel.log 2>&1

mkdir by_hand
for seed in 1 2 3; do
  krel "tiles/t$seed.xyz" -j 1 -p "by_hand/t$seed" > /dev/null
  for ext in xyz err; do
    if ! cmp -s "thinned/t$seed.$ext" "by_hand/t$seed.$ext"; then
      echo "thinned/t$seed.$ext differs from a run by hand"
      cat parallel.log
      exit 1
    fi
  done
  [ -s "thinned/t$seed.xyz" ] || { echo "thinned/t$seed.xyz is empty"; exit 1; }
done
echo "3 files thinned by GNU parallel, each equal to a run by hand"
