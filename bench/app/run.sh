#!/usr/bin/env bash
# The application, launched under Xvfb with one document, to its first painted page: a PDF, a
# Visio drawing and a Works document; with an empty cache (the conversion included) and with the
# document in the cache, each after a first launch that did what only a first run does. A page counts as painted at the first screen grab that equals
# the screen once it has settled (unchanged for $SETTLE_MS). Also the shared libraries mapped into
# the process by then. Against evince and okular on the PDF when they are installed; otherwise
# the figures stand alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
corpus=$root/../shared/corpus
bench_build ON lectern first_paint
app=$build/app/lectern
probe=$build/bench/app/first_paint
runs=${RUNS:-5}
settle=${SETTLE_MS:-1500}
scratch_work

Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

home() { # a fresh settings, cache, data and runtime folder set
  rm -rf "$work/home"; mkdir -p "$work/home/run"; chmod 700 "$work/home/run"
}
env_of_home() {
  echo XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache" XDG_DATA_HOME="$work/home/data" \
    XDG_RUNTIME_DIR="$work/home/run"
}

# best EMPTY COMMAND...: the best "ms libraries grab" line of $runs launches, after a first launch
# in a fresh home (which also does what only the first run does); EMPTY=yes empties the cache
# before each launch.
best() {
  local empty=$1 line best_line="" best_ms=999999; shift
  home
  env $(env_of_home) "$probe" "$settle" 60000 "$@" >/dev/null
  for _ in $(seq "$runs"); do
    [ "$empty" = yes ] && rm -rf "$work/home/cache"
    line=$(env $(env_of_home) "$probe" "$settle" 60000 "$@")
    ms=${line%% *}
    if awk -v a="$ms" -v b="$best_ms" 'BEGIN { exit !(a < b) }'; then best_ms=$ms; best_line=$line; fi
  done
  echo "$best_line"
}

row() { # label file
  local cold warm
  cold=$(best yes "$app" "$2")
  warm=$(best no "$app" "$2")
  read -r cms clib cgrab <<<"$cold"
  read -r wms wlib wgrab <<<"$warm"
  printf "%-22s empty cache %7.1f ms (%d libraries)   cached %7.1f ms (%d libraries)   grabs up to %.0f ms\n" \
    "$1" "$cms" "$clib" "$wms" "$wlib" "$(awk -v a="$cgrab" -v b="$wgrab" 'BEGIN { print (a > b ? a : b) }')"
}

echo "lectern links $(ldd "$app" | wc -l) shared libraries at load time"
row "PDF (4 pages)" "$corpus/pdf/pdflatex-4-pages.pdf"
row "Visio drawing" "$corpus/visio/blue-box.vsdx"
row "Works document" "$corpus/works/testWORKSWordProcessor3.0.wps"
for peer in evince okular; do
  command -v "$peer" >/dev/null || { echo "$peer: not installed"; continue; }
  read -r pms plib _ <<<"$(best no "$peer" "$corpus/pdf/pdflatex-4-pages.pdf")"
  printf "%-22s %s %.1f ms (%d libraries)\n" "PDF (4 pages)" "$peer" "$pms" "$plib"
done
