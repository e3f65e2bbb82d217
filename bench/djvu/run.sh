#!/usr/bin/env bash
# A DjVu document made here with djvulibre's tools from real pages (bitonal pages at 300 dpi
# with cjb2, colour pages at 150 dpi with c44, rendered from PDFs of the corpus), converted to
# PDF against `ddjvu -format=pdf` on the same file in the same run: time (best of $RUNS) and
# output size. A DjVu file given as argument is measured as well. Targets: time ratio <= 1.2,
# output no larger than ddjvu's.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
pdfs=$root/../shared/corpus/pdf
bench_build OFF djvu_bench
bin=$build/bench/djvu/djvu_bench
runs=${RUNS:-5}
scratch_work

pdftoppm -r 300 -mono "$pdfs/pdflatex-4-pages.pdf" "$work/bw"
for p in "$work"/bw*.pbm; do cjb2 -dpi 300 "$p" "${p%.pbm}.djvu"; done
pdftoppm -r 150 -f 1 -l 1 "$pdfs/imagemagick-images.pdf" "$work/colour"
pdftoppm -r 150 -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/colour2"
for p in "$work"/colour*.ppm; do c44 -dpi 150 "$p" "${p%.ppm}.djvu"; done
djvm -c "$work/bench.djvu" "$work"/bw*.djvu "$work"/colour*.djvu

for f in "$work/bench.djvu" "$@"; do
  pages=$("$bin" "$f" "$work/ours.pdf") || { echo "conversion failed: $f"; exit 1; }
  ddjvu -format=pdf "$f" "$work/peer.pdf" >/dev/null 2>&1 || { echo "ddjvu cannot convert $f"; exit 1; }
  inproc=$("$bin" --repeat "$runs" "$f" "$work/ours.pdf")
  whole=$(best_ns "$bin" --repeat 1 "$f" "$work/ours.pdf")
  peer=$(best_ns ddjvu -format=pdf "$f" "$work/peer.pdf")
  ours_size=$(stat -c %s "$work/ours.pdf"); peer_size=$(stat -c %s "$work/peer.pdf")
  awk -v f="$(basename "$f") ($pages pages)" -v a="$inproc" -v w="$whole" -v b="$peer" -v s="$ours_size" -v t="$peer_size" 'BEGIN {
    printf "%-28s ours %8.2f ms (whole process %8.2f ms)   ddjvu %8.2f ms   ratio %5.2f, whole process %5.2f (target <= 1.2)\n", f, a/1e6, w/1e6, b/1e6, a/b, w/b
    printf "%-28s size ours %d bytes, ddjvu %d bytes, ratio %5.3f (target <= 1)\n", "", s, t, s/t }'
done
