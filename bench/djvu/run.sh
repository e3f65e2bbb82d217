#!/usr/bin/env bash
# DjVu documents made here with djvulibre's tools from real pages (bitonal pages at 300 dpi
# with cjb2, colour pages with c44, compound pages - a 300 dpi cjb2 mask over a 100 dpi c44
# background, put together by djvumake - all rendered from PDFs of the corpus), converted to PDF
# against `ddjvu -format=pdf` on the same files in the same run.
#   - bench.djvu (6 pages) and any DjVu file given as argument: time (best of $RUNS) and output
#     size. Targets: time ratio <= 1.2, output no larger than ddjvu's.
#   - memory: one large document (115 pages), and nine documents opened at once (115, 62, 30, 20,
#     12, 8, 4, 2 and 1 pages) converted together in one process by the application's converters,
#     against nine ddjvu processes run at once: peak resident memory (ours: the process's peak;
#     ddjvu: the sum of the nine processes' peaks) and wall time (best of $BATCH_RUNS).
#     Targets: nine at once <= 400 MB, time ratio <= 1.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
pdfs=$root/../shared/corpus/pdf
bench_build OFF djvu_bench
bin=$build/bench/djvu/djvu_bench
runs=${RUNS:-5}
batch_runs=${BATCH_RUNS:-2}
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

# ---- memory: large documents, one and nine at once ------------------------------------------
pdftoppm -r 300 -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/photo"
c44 -dpi 300 "$work"/photo-1.ppm "$work/photo.djvu"
pdftoppm -r 300 -mono -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/mask"
pdftoppm -r 100 -f 1 -l 1 "$pdfs/pdflatex-image.pdf" "$work/background"
cjb2 -dpi 300 "$work"/mask-1.pbm "$work/mask.djvu"
c44 -dpi 100 "$work"/background-1.ppm "$work/background.djvu"
djvuextract "$work/mask.djvu" Sjbz="$work/mask.sjbz" >/dev/null 2>&1
djvuextract "$work/background.djvu" BG44="$work/background.bg44" >/dev/null 2>&1
size=$(djvudump "$work/mask.djvu" | sed -n 's/.*DjVu \([0-9]*\)x\([0-9]*\).*/\1,\2/p')
djvumake "$work/compound.djvu" INFO="$size,300" Sjbz="$work/mask.sjbz" BG44="$work/background.bg44" >/dev/null 2>&1
bitonal=("$work"/bw-*.djvu)

# document PAGES NAME: every 8th page colour, every 4th of the rest compound, the others bitonal.
document() {
  local n=$1 name=$2 d=$work/pages-$2 i
  mkdir -p "$d"
  for i in $(seq 1 "$n"); do
    if [ $((i % 8)) = 0 ]; then cp "$work/photo.djvu" "$d/$(printf %03d "$i").djvu"
    elif [ $((i % 4)) = 2 ]; then cp "$work/compound.djvu" "$d/$(printf %03d "$i").djvu"
    else cp "${bitonal[$((i % ${#bitonal[@]}))]}" "$d/$(printf %03d "$i").djvu"; fi
  done
  djvm -c "$work/$name.djvu" "$d"/*.djvu
}
batch=()
for n in 115 62 30 20 12 8 4 2 1; do document "$n" "doc$n"; batch+=("$work/doc$n.djvu"); done
mkdir -p "$work/out"

# The peak resident size (kB) of a command, its status kept.
peak_kb() { python3 -c 'import resource, subprocess, sys
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
sys.exit(r.returncode)' "$@"; }

# One large document.
one_ours=$("$bin" --together "$work/out" "${batch[0]}") || { echo "conversion failed: ${batch[0]}"; exit 1; }
one_peer_kb=$(peak_kb ddjvu -format=pdf "${batch[0]}" "$work/out/peer.pdf") || { echo "ddjvu failed: ${batch[0]}"; exit 1; }
t0=$(date +%s%N); ddjvu -format=pdf "${batch[0]}" "$work/out/peer.pdf" >/dev/null 2>&1; one_peer_ns=$(($(date +%s%N) - t0))

# Nine at once: ours in one process, ddjvu as nine processes.
best_ours=0 best_peer=0 ours_kb=0 peer_kb=0
for _ in $(seq "$batch_runs"); do
  read -r ns kb < <("$bin" --together "$work/out" "${batch[@]}") || { echo "batch conversion failed"; exit 1; }
  [ "$best_ours" = 0 ] || [ "$ns" -lt "$best_ours" ] && best_ours=$ns
  [ "$kb" -gt "$ours_kb" ] && ours_kb=$kb
  t0=$(date +%s%N); pids=()
  for k in "${!batch[@]}"; do ddjvu -format=pdf "${batch[$k]}" "$work/out/peer$k.pdf" >/dev/null 2>&1 & pids+=($!); done
  for p in "${pids[@]}"; do wait "$p" || { echo "ddjvu failed in the batch"; exit 1; }; done
  ns=$(($(date +%s%N) - t0))
  [ "$best_peer" = 0 ] || [ "$ns" -lt "$best_peer" ] && best_peer=$ns
  pids=(); : >"$work/peaks"
  for k in "${!batch[@]}"; do peak_kb ddjvu -format=pdf "${batch[$k]}" "$work/out/peer$k.pdf" >>"$work/peaks" & pids+=($!); done
  for p in "${pids[@]}"; do wait "$p" || { echo "ddjvu failed in the batch"; exit 1; }; done
  kb=$(awk '{ s += $1 } END { print s }' "$work/peaks")
  [ "$kb" -gt "$peer_kb" ] && peer_kb=$kb
done
read -r one_ns one_kb <<<"$one_ours"
awk -v a="$one_ns" -v m="$one_kb" -v b="$one_peer_ns" -v n="$one_peer_kb" 'BEGIN {
  printf "%-28s peak ours %7.1f MB, ddjvu %7.1f MB, ratio %5.2f   time ours %8.2f ms, ddjvu %8.2f ms, ratio %5.2f\n", "doc115 alone", m/1024, n/1024, m/n, a/1e6, b/1e6, a/b }'
awk -v a="$best_ours" -v m="$ours_kb" -v b="$best_peer" -v n="$peer_kb" 'BEGIN {
  printf "%-28s peak ours %7.1f MB, ddjvu %7.1f MB (nine processes), ratio %5.2f (target <= 400 MB)   time ours %8.2f ms, ddjvu %8.2f ms, ratio %5.2f (target <= 1)\n", "nine documents at once", m/1024, n/1024, m/n, a/1e6, b/1e6, a/b }'
