#!/usr/bin/env bash
# DiagramKit's own VSDX renderer (the road of a source named "fixed-diagram.vsdx"), against
# `vsd2xhtml` on the same packages in the same run.
#  - text: one narrow shape (0.5 in) holding 1,000 / 2,000 / 4,000 / 8,000 characters; best
#    wall time of $RUNS whole conversions to PDF, in process. "growth" is the time over the
#    time of half the characters: 2 or less is linear.
#  - images: one image part drawn by 5 shapes, 7 MB (the most a page carries) and
#    40 MB (left out with a log line); peak resident memory of the whole conversion and the
#    size of the page files, against vsd2xhtml's peak and its XHTML output. vsd2xhtml is given
#    $PEER_SECONDS (default 60) per package.
# Targets: growth <= 2 per doubling; each image written once (page files about 4/3 of the
# image, not 5 times that).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
runs=${RUNS:-5}
bench_build OFF visio_bench vsdx_pages
bin=$build/bench/visio/visio_bench
pages=$build/bench/visio/vsdx_pages
scratch_work
export XDG_DATA_HOME=$work/data
make() { mkdir -p "$work/$1"; python3 "$root/bench/visio/packages.py" "${@:2}" "$work/$1/fixed-diagram.vsdx"; echo "$work/$1/fixed-diagram.vsdx"; }
# peak_kb COMMAND...: the peak resident memory of COMMAND in KiB (fails when it fails).
peak_kb() {
  python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
}

previous=0
for n in 1000 2000 4000 8000; do
  f=$(make "text-$n" text "$n")
  "$bin" "$f" >/dev/null || { echo "conversion failed: $f"; exit 1; }
  read -r ours _ < <("$bin" --repeat "$runs" "$f")
  peer=$(best_ns vsd2xhtml "$f")
  awk -v n="$n" -v a="$ours" -v b="$peer" -v p="$previous" 'BEGIN {
    printf "text %5d characters   ours %8.2f ms   vsd2xhtml %7.2f ms   ratio %6.2f   growth %s\n",
           n, a/1e6, b/1e6, a/b, (p > 0 ? sprintf("%.2f", a/p) : "-") }'
  previous=$ours
done

for mb in 7 40; do
  f=$(make "images-$mb" images $((mb * 1000000)) 5)
  rss=$(peak_kb "$bin" --pdf "$work/images-$mb.pdf" "$f")
  size=$("$pages" "$f" "$work/pages-$mb" 2>/dev/null)
  if peer_rss=$(peak_kb timeout "${PEER_SECONDS:-60}" vsd2xhtml "$f" 2>/dev/null); then
    peer_size=$(timeout "${PEER_SECONDS:-60}" vsd2xhtml "$f" | wc -c)
    peer="vsd2xhtml $((peer_rss / 1024)) MiB, output $((peer_size / 1000000)) MB"
  else
    peer="vsd2xhtml did not end within ${PEER_SECONDS:-60} s"
  fi
  echo "image of $mb MB drawn 5 times   ours peak $((rss / 1024)) MiB, page files $(awk -v s="$size" 'BEGIN { printf "%.3f", s/1e6 }') MB   $peer"
done
