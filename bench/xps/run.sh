#!/usr/bin/env bash
# Each XPS file of the corpus converted to PDF, against `xpstopdf` on the same file in the same
# run. "in-process" is the conversion as the application runs it (best of $RUNS); "whole
# process" adds our binary's start-up. Files the peer cannot convert are reported and left out
# of the ratio. Target: ratio <= 1.2.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
corpus=${1:-$root/../shared/corpus/xps}
bench_build OFF xps_bench
bin=$build/bench/xps/xps_bench
runs=${RUNS:-10}
scratch_work

total_in=0 total_whole=0 total_peer=0
for f in "$corpus"/*.xps "$corpus"/*.oxps; do
  [ -f "$f" ] || continue
  pages=$("$bin" "$f" "$work/ours.pdf") || { echo "conversion failed: $f"; exit 1; }
  if ! xpstopdf "$f" "$work/peer.pdf" >/dev/null 2>&1; then
    printf "%-32s ours %d pages; xpstopdf cannot convert it (not in the total)\n" "$(basename "$f")" "$pages"
    continue
  fi
  inproc=$("$bin" --repeat "$runs" "$f" "$work/ours.pdf")
  whole=$(best_ns "$bin" --repeat 1 "$f" "$work/ours.pdf")
  peer=$(best_ns xpstopdf "$f" "$work/peer.pdf")
  total_in=$((total_in + inproc)); total_whole=$((total_whole + whole)); total_peer=$((total_peer + peer))
  awk -v f="$(basename "$f")" -v a="$inproc" -v w="$whole" -v b="$peer" 'BEGIN {
    printf "%-32s ours %7.2f ms (whole process %7.2f ms)   xpstopdf %7.2f ms   ratio %5.2f, whole process %5.2f\n",
           f, a/1e6, w/1e6, b/1e6, a/b, w/b }'
done
awk -v a="$total_in" -v w="$total_whole" -v b="$total_peer" 'BEGIN {
  printf "%-32s ours %7.2f ms (whole process %7.2f ms)   xpstopdf %7.2f ms   ratio %5.2f, whole process %5.2f (target <= 1.2)\n",
         "corpus total", a/1e6, w/1e6, b/1e6, a/b, w/b }'
