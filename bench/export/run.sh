#!/usr/bin/env bash
# Save As of a generated 200-page PDF, against the peer tools in the same run:
#   as PDF (pages 1-200)   vs  qpdf --empty --pages FILE 1-200 -- out.pdf   (target ratio <= 1.5)
#   as PNG at 72 dpi       vs  pdftoppm -png -r 72 FILE out                 (target ratio <= 1.5)
# Ours is timed inside the process (start of the export to its end report, as the application
# runs it) and as a whole process (Qt start-up and opening the document included).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
bench_build ON export_bench
bin=$build/bench/export/export_bench
qt_work
runs=${RUNS:-5}
pdf=$work/doc.pdf
"$bin" make "$pdf" 200
mkdir -p "$work/ours" "$work/peer"

inside() { # format: best in-process time of $runs runs
  local best=999999999999 t
  for _ in $(seq "$runs"); do
    t=$("$bin" save "$1" "$pdf" "$work/ours"); [ "$t" -lt "$best" ] && best=$t
  done
  echo "$best"
}

a=$(inside PDF)
w=$(best_ns "$bin" save PDF "$pdf" "$work/ours")
b=$(best_ns qpdf --empty --pages "$pdf" 1-200 -- "$work/peer/out.pdf")
pages=$(qpdf --show-npages "$work/ours/out.pdf")
[ "$pages" = 200 ] || { echo "our PDF has $pages pages"; exit 1; }
awk -v a="$a" -v w="$w" -v b="$b" 'BEGIN { printf "200 pages as PDF: %.1f ms (whole process %.1f ms)   qpdf %.1f ms   ratio %.2f, whole process %.2f (target <= 1.5)\n", a/1e6, w/1e6, b/1e6, a/b, w/b }'

a=$(inside PNG)
w=$(best_ns "$bin" save PNG "$pdf" "$work/ours")
b=$(best_ns pdftoppm -png -r 72 "$pdf" "$work/peer/out")
n=$(ls "$work/ours" | grep -c '^out_.*\.png$')
[ "$n" = 200 ] || { echo "we wrote $n PNG files"; exit 1; }
read -r ow oh < <(file "$work/ours/out_1.png" | sed -E 's/.* ([0-9]+) x ([0-9]+).*/\1 \2/')
read -r pw ph < <(file "$(ls "$work"/peer/out-*1.png | head -1)" | sed -E 's/.* ([0-9]+) x ([0-9]+).*/\1 \2/')
[ "$ow $oh" = "$pw $ph" ] || echo "note: page size ours ${ow}x${oh}, pdftoppm ${pw}x${ph}"
awk -v a="$a" -v w="$w" -v b="$b" 'BEGIN { printf "200 pages as PNG at 72 dpi: %.1f ms (whole process %.1f ms)   pdftoppm %.1f ms   ratio %.2f, whole process %.2f (target <= 1.5)\n", a/1e6, w/1e6, b/1e6, a/b, w/b }'
