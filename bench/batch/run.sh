#!/usr/bin/env bash
# Nine DjVu documents opened at once through the load manager, as the browser opens documents
# chosen together, against `ddjvu -format=pdf` run on the nine in parallel, in the same run.
# The documents (115, 62, 30, 20, 12, 8, 4, 2 and 1 pages) are made here with djvulibre's tools
# from corpus PDFs: bitonal text pages at 300 dpi (cjb2), every fourth page a compound page (a
# 300 dpi mask over a 100 dpi background, djvumake), every eighth a 300 dpi colour page (c44).
#   ours:  wall time from the requests to the last end, and the process's peak resident size
#          (best and worst of $RUNS runs), with the most conversions that ran at once;
#   ddjvu: wall time of the nine processes, and the sum of their peak resident sizes.
# Targets: peak <= 400 MB, time ratio <= 1. Any DjVu files given as arguments replace the nine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
bench_build ON batch_bench
bin=$build/bench/batch/batch_bench
runs=${RUNS:-3}
qt_work
pdfs=$root/../shared/corpus/pdf

make_pages() {
  pdftoppm -r 300 -mono "$pdfs/pdflatex-4-pages.pdf" "$work/text"
  for p in "$work"/text-*.pbm; do cjb2 -dpi 300 "$p" "${p%.pbm}.djvu"; done
  pdftoppm -r 300 -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/photo"
  c44 -dpi 300 "$work"/photo-1.ppm "$work/photo.djvu"
  pdftoppm -r 300 -mono -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/mask"
  pdftoppm -r 100 -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/back"
  cjb2 -dpi 300 "$work"/mask-1.pbm "$work/mask.djvu"
  c44 -dpi 100 "$work"/back-1.ppm "$work/back.djvu"
  djvuextract "$work/mask.djvu" Sjbz="$work/mask.sjbz" >/dev/null 2>&1
  djvuextract "$work/back.djvu" BG44="$work/back.bg44" >/dev/null 2>&1
  local size
  size=$(djvudump "$work/mask.djvu" | sed -n 's/.*DjVu \([0-9]*\)x\([0-9]*\).*/\1,\2/p' | head -1)
  djvumake "$work/compound.djvu" INFO="$size,300" Sjbz="$work/mask.sjbz" BG44="$work/back.bg44" >/dev/null 2>&1
}

# document PAGES: $work/docPAGES.djvu
document() {
  local n=$1 folder=$work/pages$1 i text=("$work"/text-*.djvu)
  mkdir -p "$folder"
  for i in $(seq 1 "$n"); do
    local page=${text[$((i % ${#text[@]}))]}
    if [ $((i % 8)) = 0 ]; then page=$work/photo.djvu; elif [ $((i % 4)) = 2 ]; then page=$work/compound.djvu; fi
    cp "$page" "$folder/$(printf %03d "$i").djvu"
  done
  djvm -c "$work/doc$n.djvu" "$folder"/*.djvu
}

docs=("$@")
if [ ${#docs[@]} = 0 ]; then
  make_pages
  for n in 115 62 30 20 12 8 4 2 1; do document "$n"; docs+=("$work/doc$n.djvu"); done
fi

best=0 worst_kb=0 most=0
for r in $(seq "$runs"); do
  out=$("$bin" "$work/cache$r" "${docs[@]}" 2>"$work/errors") || { echo "bench: a document did not open"; cat "$work/errors"; exit 1; }
  read -r ns kb at_once <<<"$out"
  { [ "$best" = 0 ] || [ "$ns" -lt "$best" ]; } && best=$ns
  [ "$kb" -gt "$worst_kb" ] && worst_kb=$kb
  [ "$at_once" -gt "$most" ] && most=$at_once
done

peer_best=0 peer_kb=0
for r in $(seq "$runs"); do
  : >"$work/peaks"
  t0=$(date +%s%N); pids=()
  for k in "${!docs[@]}"; do
    /usr/bin/time -f %M -a -o "$work/peaks" ddjvu -format=pdf "${docs[$k]}" "$work/peer$k.pdf" >/dev/null 2>&1 & pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || { echo "bench: ddjvu failed"; exit 1; }; done
  ns=$(($(date +%s%N) - t0))
  { [ "$peer_best" = 0 ] || [ "$ns" -lt "$peer_best" ]; } && peer_best=$ns
  kb=$(awk '{ s += $1 } END { print s }' "$work/peaks")
  [ "$kb" -gt "$peer_kb" ] && peer_kb=$kb
done

awk -v n="${#docs[@]}" -v a="$best" -v m="$worst_kb" -v c="$most" -v b="$peer_best" -v p="$peer_kb" 'BEGIN {
  printf "%d DjVu documents opened at once: peak ours %.1f MB (at most %d conversions at once), ddjvu %.1f MB (sum of %d processes), ratio %.2f (target: ours <= 400 MB)\n", n, m/1024, c, p/1024, n, m/p
  printf "%d DjVu documents opened at once: time ours %.0f ms, ddjvu in parallel %.0f ms, ratio %.2f (target <= 1)\n", n, a/1e6, b/1e6, a/b }'
