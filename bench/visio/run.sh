#!/usr/bin/env bash
# Each drawing of the corpus converted to PDF, against `vsd2xhtml` (SVG pages in XHTML only) on
# the same file in the same run. "in-process" is the conversion as the application runs it
# (first run excluded, best of $RUNS); "whole process" adds our binary's start-up.
# Target: ratio <= 3 (we also render the pages and assemble the PDF).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
corpus=${1:-$root/../shared/corpus/visio}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target visio_bench >/dev/null
bin=$build/bench/visio/visio_bench
runs=${RUNS:-10}

total_in=0 total_whole=0 total_peer=0
for f in "$corpus"/*; do
  [ -f "$f" ] || continue
  "$bin" "$f" >/dev/null || { echo "conversion failed: $f"; exit 1; }
  inproc=$("$bin" --repeat "$runs" "$f")
  whole=$(best_ns "$bin" "$f")
  peer=$(best_ns vsd2xhtml "$f")
  total_in=$((total_in + inproc)); total_whole=$((total_whole + whole)); total_peer=$((total_peer + peer))
  awk -v f="$(basename "$f")" -v a="$inproc" -v w="$whole" -v b="$peer" 'BEGIN {
    printf "%-32s ours %7.2f ms (whole process %7.2f ms)   vsd2xhtml %7.2f ms   ratio %5.2f, whole process %5.2f\n",
           f, a/1e6, w/1e6, b/1e6, a/b, w/b }'
done
awk -v a="$total_in" -v w="$total_whole" -v b="$total_peer" 'BEGIN {
  printf "%-32s ours %7.2f ms (whole process %7.2f ms)   vsd2xhtml %7.2f ms   ratio %5.2f, whole process %5.2f (target <= 3)\n",
         "corpus total", a/1e6, w/1e6, b/1e6, a/b, w/b }'
