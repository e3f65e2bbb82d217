#!/usr/bin/env bash
# A generated 1,000-page PDF with text on every page, against poppler-utils in the same run:
#   open + render page 1 at 96 dpi        vs  pdftoppm -f 1 -l 1 -r 96      (target ratio <= 1.5)
#   find a word on every 10th page        vs  pdftotext FILE - | grep -c    (target ratio <= 1.0)
#   the same find in a tab, and one of a word on every line, up to the matches in the side panel:
#     the time and the longest GUI-thread stall
#   every thumbnail shown once: peak RSS (target <= 400 MiB) and the longest GUI-thread stall.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
bench_build ON pdf_bench pdf_core_bench
bin=$build/bench/pdf/pdf_bench
core=$build/bench/pdf/pdf_core_bench
qt_work
runs=${RUNS:-5}
word=quokka
pdf=$work/doc.pdf
"$bin" make "$pdf" 1000 "$word"

peer_find() { pdftotext "$pdf" - | grep -c "$word"; }

ours=$("$core" find "$pdf" "$word")
theirs=$(peer_find)
[ "$ours" = "$theirs" ] || { echo "match counts differ: ours $ours, pdftotext $theirs"; exit 1; }

# In a fresh process each time: the time inside it (as the application opens a document) and as a whole process of ours (start-up of
# the Qt libraries included) against the whole pdftoppm process.
a=999999999999
for _ in $(seq "$runs"); do
  t=$("$core" render "$pdf" "$work/ours.ppm"); [ "$t" -lt "$a" ] && a=$t
done
w=$(best_ns "$core" render "$pdf" "$work/ours.ppm")
b=$(best_ns pdftoppm -f 1 -l 1 -r 96 "$pdf" "$work/peer")
awk -v a="$a" -v w="$w" -v b="$b" 'BEGIN { printf "open + page 1 at 96 dpi: %.1f ms (whole process %.1f ms)   pdftoppm %.1f ms   ratio %.2f, whole process %.2f (target <= 1.5)\n", a/1e6, w/1e6, b/1e6, a/b, w/b }'
a=$(best_ns "$core" find "$pdf" "$word")
b=$(best_ns peer_find)
awk -v a="$a" -v b="$b" -v n="$ours" 'BEGIN { printf "find (%d matches):       %.1f ms   pdftotext|grep %.1f ms   ratio %.2f (target <= 1.0)\n", n, a/1e6, b/1e6, a/b }'
for w in "$word" fox; do
  out=$("$bin" find "$pdf" "$w" 2>/dev/null)
  read -r ms stall over n <<<"$out"
  echo "find in a tab ($n matches): ${ms} ms to the side panel; GUI thread: longest stall ${stall} ms, ${over} stalls over 50 ms"
done
read -r rss stall over _ < <("$bin" thumbs "$pdf" 2>/dev/null)
echo "all 1000 thumbnails shown: peak RSS ${rss} MiB (target <= 400); GUI thread: longest stall ${stall} ms, ${over} stalls over 50 ms (renders run on workers)"
