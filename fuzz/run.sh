#!/usr/bin/env bash
# Builds the fuzz harnesses with clang in their own build folder and runs each
# for a bounded time on a copy of its seed corpus. A crash, a leak, a time-out
# or a memory blow-up of any harness fails the script; the input that did it is
# kept in the artifact folder and named in the output.
#
#   fuzz/run.sh [seconds per harness (default 60)] [harness ...]
#
# Environment: KREL_FUZZ_BUILD (default build-fuzz), KREL_FUZZ_OUT (default a
# fresh temporary folder; holds the grown corpora, artifacts and logs).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fields reader hull las laz cmdline run source)

build=${KREL_FUZZ_BUILD:-build-fuzz}
out=${KREL_FUZZ_OUT:-$(mktemp -d "${TMPDIR:-/tmp}/krel-fuzz-run.XXXXXX")}
mkdir -p "$out"

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKREL_FUZZ=ON \
  -DKREL_TESTS=OFF -DKREL_BENCH=OFF > "$out/configure.log"
cmake --build "$build" -j2 --target fuzz

# Longest input per harness: enough for a tile that greedy insertion thins
# and for more than the 1000 arguments the command line reads.
declare -A max_len=([fields]=1024 [reader]=8192 [hull]=4096 [las]=8192 [laz]=8192 [cmdline]=4096 [run]=8192 [source]=8192)

failed=()
for h in "${harnesses[@]}"; do
  corpus="$out/corpus/$h"
  mkdir -p "$corpus" "$out/artifacts" "$out/tmp"
  echo "== fuzz_$h for ${seconds}s"
  # New inputs go to the first (temporary) corpus folder, never into the
  # repository's seeds. The harnesses' scratch folders go under $out/tmp.
  if TMPDIR="$out/tmp" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$build/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$h]}" \
      -dict=fuzz/krel.dict -print_final_stats=1 -artifact_prefix="$out/artifacts/$h-" \
      "$corpus" "fuzz/corpus/$h" > "$out/$h.log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$out/$h.log" || true
  else
    echo "fuzz_$h FAILED; log $out/$h.log, inputs:"
    ls "$out/artifacts/$h-"* 2>/dev/null || true
    grep -E 'ERROR|SUMMARY|fuzz check failed|runtime error' "$out/$h.log" | head -5 || true
    failed+=("$h")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
[ -n "${KREL_FUZZ_OUT:-}" ] || rm -rf "$out"
echo "fuzzing clean"
