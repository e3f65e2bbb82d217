#!/usr/bin/env bash
# Each drawing of the corpus converted to PDF, against `vsd2xhtml` (SVG pages in XHTML only) on
# the same file in the same run. "in-process" is the conversion as the application runs it
# (pre-processing of a ".vsdx" included; first run excluded, best of $RUNS); "whole process"
# adds our binary's start-up. "stall" is the longest time the main queue (the GUI thread in the
# application) spent in one go during a conversion. "look" is the RMSE, over the worst page,
# between our PDF page and libvisio's own SVG of it, both rendered at 72 dpi (pdftoppm,
# rsvg-convert); 0 is identical, and bitmaps and text alone, resampled differently by the two
# renderers, give up to about 0.09 on pages that are the same drawing.
# Targets: total ratio <= 1.2, no drawing over 2, no stall over 100 ms.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
corpus=${1:-$root/../shared/corpus/visio}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j3 --target visio_bench >/dev/null
bin=$build/bench/visio/visio_bench
runs=${RUNS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data

# The worst page RMSE of our PDF of $1 against libvisio's SVG pages.
look() {
  local f=$1 d=$work/look n worst=0
  rm -rf "$d"; mkdir -p "$d"
  "$bin" --pdf "$d/ours.pdf" "$f" >/dev/null 2>&1 || { echo "-"; return; }
  pdftoppm -r 72 -png "$d/ours.pdf" "$d/ours"
  vsd2xhtml "$f" 2>/dev/null | python3 "$root/bench/visio/pages.py" "$d/peer" >/dev/null || { echo "-"; return; }
  n=0
  for svg in "$d"/peer-*.svg; do
    n=$((n + 1))
    rsvg-convert --dpi-x 72 --dpi-y 72 -b white "$svg" -o "$d/peer-$n.png" 2>/dev/null || continue
    ours=$(ls "$d"/ours-*.png | sed -n "${n}p")
    [ -n "$ours" ] || continue
    r=$(compare -metric RMSE "$d/peer-$n.png" "$ours" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p')
    [ -n "$r" ] || r=1
    worst=$(awk -v a="$worst" -v b="$r" 'BEGIN { print (b > a ? b : a) }')
  done
  echo "$worst"
}

total_in=0 total_whole=0 total_peer=0 worst_ratio=0 worst_stall=0
for f in "$corpus"/*; do
  [ -f "$f" ] || continue
  "$bin" "$f" >/dev/null || { echo "conversion failed: $f"; exit 1; }
  read -r inproc stall < <("$bin" --repeat "$runs" "$f")
  whole=$(best_ns "$bin" "$f")
  peer=$(best_ns vsd2xhtml "$f")
  rmse=$(look "$f")
  total_in=$((total_in + inproc)); total_whole=$((total_whole + whole)); total_peer=$((total_peer + peer))
  [ "$stall" -gt "$worst_stall" ] && worst_stall=$stall
  worst_ratio=$(awk -v w="$worst_ratio" -v a="$inproc" -v b="$peer" 'BEGIN { r = a / b; print (r > w ? r : w) }')
  awk -v f="$(basename "$f")" -v a="$inproc" -v w="$whole" -v b="$peer" -v s="$stall" -v l="$rmse" 'BEGIN {
    printf "%-32s ours %7.2f ms (whole process %7.2f ms)   vsd2xhtml %7.2f ms   ratio %5.2f, whole process %5.2f   stall %6.2f ms   look %s\n",
           f, a/1e6, w/1e6, b/1e6, a/b, w/b, s/1e6, l }'
done
awk -v a="$total_in" -v w="$total_whole" -v b="$total_peer" -v m="$worst_ratio" -v s="$worst_stall" 'BEGIN {
  printf "%-32s ours %7.2f ms (whole process %7.2f ms)   vsd2xhtml %7.2f ms   ratio %5.2f (target <= 1.2), whole process %5.2f\n",
         "corpus total", a/1e6, w/1e6, b/1e6, a/b, w/b
  printf "worst single drawing ratio %.2f (target <= 2); longest main-queue stall %.2f ms (target <= 100)\n", m, s/1e6 }'
