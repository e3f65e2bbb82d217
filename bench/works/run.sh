#!/usr/bin/env bash
# A 50-page WordPerfect document converted to PDF, against LibreOffice
# (`soffice --headless --convert-to pdf`) on the same file in the same run. "ours" is the
# conversion as the module runs it (converter thread and print, best of $RUNS, first run
# excluded); "whole process" adds our binary's start-up. LibreOffice runs with a profile of its
# own, made in a first run that is not counted. Target: ratio <= 0.2.
#
# LibreOffice is installed for this benchmark only (scripts/install-deps does not).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
if ! command -v soffice >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends libreoffice-writer-nogui >/dev/null
fi
build=$root/build/bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target works_bench >/dev/null
bin=$build/bench/works/works_bench
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

doc=$work/fifty.wp
"$bin" make "$doc" "${PARAGRAPHS:-570}"
read -r inproc pages < <("$bin" convert "$doc" "$work/ours.pdf" "$runs")
whole=$(best_ns "$bin" convert "$doc" "$work/ours.pdf")
profile="-env:UserInstallation=file://$work/lo-profile"
soffice --headless "$profile" --convert-to pdf --outdir "$work/lo" "$doc" >/dev/null 2>&1
peer=$(best_ns soffice --headless "$profile" --convert-to pdf --outdir "$work/lo" "$doc")
peer_pages=$(pdfinfo "$work/lo/fifty.pdf" | awk '/^Pages:/ {print $2}')
awk -v p="$pages" -v q="$peer_pages" -v a="$inproc" -v w="$whole" -v b="$peer" 'BEGIN {
  printf "WordPerfect, %d pages (LibreOffice: %d)   ours %8.2f ms (whole process %8.2f ms)   soffice %8.2f ms   ratio %5.3f, whole process %5.3f (target <= 0.2)\n",
         p, q, a/1e6, w/1e6, b/1e6, a/b, w/b }'
