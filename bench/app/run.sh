#!/usr/bin/env bash
# The application, launched under Xvfb with one document, to its first painted page: a PDF, a
# Visio drawing and a Works document; with an empty cache (the conversion included) and with the
# document in the cache, each after a first launch that did what only a first run does. Two
# times: the window up (the first screen grab that differs from the empty screen) and the screen
# settled (the first grab equal to the screen once it stays unchanged for $SETTLE_MS: the page
# painted and the window's fit-to-page animation ended). Also the shared libraries mapped into the
# process by then. Against evince and okular on the PDF when they are installed; otherwise
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

# best EMPTY COMMAND...: "window settled libraries grab" over $runs launches (the least times, the
# libraries of the last launch, the longest grab), after a first launch in a fresh home (which
# also does what only a first run does); EMPTY=yes empties the cache before each launch.
best() {
  local empty=$1 lines=""; shift
  home
  env $(env_of_home) "$probe" "$settle" 60000 "$@" >/dev/null
  for _ in $(seq "$runs"); do
    [ "$empty" = yes ] && rm -rf "$work/home/cache"
    lines+=$(env $(env_of_home) "$probe" "$settle" 60000 "$@")$'\n'
  done
  awk 'NF == 4 { if (!w || $1 < w) w = $1; if (!s || $2 < s) s = $2; l = $3; if ($4 > g) g = $4 }
       END { print w, s, l, g }' <<<"$lines"
}

row() { # label file
  local w s l g w2 s2 l2 g2
  read -r w s l g <<<"$(best yes "$app" "$2")"
  read -r w2 s2 l2 g2 <<<"$(best no "$app" "$2")"
  printf "%-16s empty cache: window %5.0f ms, settled %5.0f ms (%d libraries)   cached: window %5.0f ms, settled %5.0f ms (%d libraries)   grabs up to %.0f ms\n" \
    "$1" "$w" "$s" "$l" "$w2" "$s2" "$l2" "$(awk -v a="$g" -v b="$g2" 'BEGIN { print (a > b ? a : b) }')"
}

echo "lectern links $(ldd "$app" | wc -l) shared libraries at load time"
row "PDF (4 pages)" "$corpus/pdf/pdflatex-4-pages.pdf"
row "Visio drawing" "$corpus/visio/blue-box.vsdx"
row "Works document" "$corpus/works/testWORKSWordProcessor3.0.wps"
for peer in evince okular; do
  command -v "$peer" >/dev/null || { echo "$peer: not installed"; continue; }
  read -r w s l _ <<<"$(best no "$peer" "$corpus/pdf/pdflatex-4-pages.pdf")"
  printf "%-16s %s: window %5.0f ms, settled %5.0f ms (%d libraries)\n" "PDF (4 pages)" "$peer" "$w" "$s" "$l"
done
