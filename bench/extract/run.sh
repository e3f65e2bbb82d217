#!/usr/bin/env bash
# Extract Images of a generated 100-page PDF with three pictures a page, as PNG, against
#   pdfimages -png FILE out     (target ratio <= 1.5)
# and of one page whose only picture has 100 million pixels: time and peak memory of the whole
# process against pdfimages (target: time <= 1.5 x; memory within what one RGBA copy of the
# picture takes, 400 MB, above the peer's).
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

large=$work/large.pdf
"$bin" make-large "$large"
mkdir -p "$work/ours-large" "$work/peer-large"
peak() {  # best wall ms and peak resident MB of $runs runs of COMMAND
  local best=999999999 mem=0 out t m
  for _ in $(seq "$runs"); do
    /usr/bin/time -o "$work/time" -f '%e %M' "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    read -r t m <"$work/time"
    t=$(awk -v t="$t" 'BEGIN { printf "%d", t * 1000 }')
    [ "$t" -lt "$best" ] && best=$t
    [ "$m" -gt "$mem" ] && mem=$m
  done
  echo "$best $mem"
}
read -r lt lm < <(peak "$bin" run "$large" "$work/ours-large")
read -r pt pm < <(peak pdfimages -png "$large" "$work/peer-large/out")
[ -f "$work/ours-large/out_1.png" ] || { echo "we wrote no image of the large page"; exit 1; }
awk -v lt="$lt" -v lm="$lm" -v pt="$pt" -v pm="$pm" 'BEGIN { printf "one 100 MP picture as PNG: %d ms, peak %.0f MB   pdfimages %d ms, peak %.0f MB   time ratio %.2f, memory %+.0f MB (target <= 1.5, <= +400 MB)\n", lt, lm/1024, pt, pm/1024, lt/pt, (lm-pm)/1024 }'
