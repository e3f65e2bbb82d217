#!/usr/bin/env bash
# EMF to SVG of a generated file of 100,000 POLYLINE16 records, against emf2svg-conv on the same
# file in the same run. The ratio is our conversion as the application runs it (in process);
# the whole-process figure adds our binary's start-up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target emf_bench >/dev/null
bin=$build/bench/emf/emf_bench
command -v emf2svg-conv >/dev/null || { echo "emf2svg-conv not installed (Debian package emf2svg)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=${RUNS:-10}
records=${RECORDS:-100000}

"$bin" generate "$work/lines.emf" "$records"

# Both must produce a document before the times mean anything.
"$bin" convert "$work/lines.emf" "$work/ours.svg" >/dev/null
emf2svg-conv -i "$work/lines.emf" -o "$work/peer.svg"
[ -s "$work/ours.svg" ] && [ -s "$work/peer.svg" ] || { echo "a converter wrote nothing"; exit 1; }

inproc=$("$bin" convert "$work/lines.emf" "$work/ours.svg" --repeat "$runs")
whole=$(best_ns "$bin" convert "$work/lines.emf" "$work/ours.svg")
peer=$(best_ns emf2svg-conv -i "$work/lines.emf" -o "$work/peer.svg")
size=$(stat -c %s "$work/lines.emf")
awk -v r="$records" -v s="$size" -v a="$inproc" -v w="$whole" -v b="$peer" 'BEGIN {
  printf "%d POLYLINE16 records (%.1f MB): ours %.1f ms (whole process %.1f ms)   emf2svg-conv %.1f ms   ratio %.2f, whole process %.2f (target <= 1.0)\n",
         r, s/1e6, a/1e6, w/1e6, b/1e6, a/b, w/b }'
