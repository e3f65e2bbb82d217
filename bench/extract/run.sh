#!/usr/bin/env bash
# Extract Images of a generated 100-page PDF with three pictures a page, as PNG, against
#   pdfimages -png FILE out     (target ratio <= 1.5)
# Ours is timed inside the process (start of the run to its end report, as the application runs
# it) and as a whole process (Qt start-up and opening the document included).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
bench_build ON extract_bench
bin=$build/bench/extract/extract_bench
qt_work
runs=${RUNS:-5}
pdf=$work/doc.pdf
"$bin" make "$pdf" 100
mkdir -p "$work/ours" "$work/peer"

best=999999999999
for _ in $(seq "$runs"); do
  read -r t n < <("$bin" run "$pdf" "$work/ours")
  [ "$t" -lt "$best" ] && best=$t
done
[ "$n" = 300 ] || { echo "we wrote $n images"; exit 1; }
w=$(best_ns "$bin" run "$pdf" "$work/ours")
b=$(best_ns pdfimages -png "$pdf" "$work/peer/out")
m=$(ls "$work/peer" | grep -c '\.png$')
awk -v a="$best" -v w="$w" -v b="$b" -v m="$m" 'BEGIN { printf "300 images of 100 pages as PNG: %.1f ms (whole process %.1f ms)   pdfimages %.1f ms (%d files)   ratio %.2f, whole process %.2f (target <= 1.5)\n", a/1e6, w/1e6, b/1e6, m, a/b, w/b }'
