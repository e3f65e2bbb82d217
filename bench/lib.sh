# Shared by the benchmark scripts (sourced).

# best_ns COMMAND...: the best wall time, in nanoseconds, of $runs runs of COMMAND (output dropped).
# A run that fails makes best_ns fail (it names the command on stderr and prints no figure), so
# `x=$(best_ns ...)` stops a `set -e` script instead of timing a command that did not do its work.
best_ns() {
  local best=999999999999 t0 t1 d rc
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N); rc=0; "$@" >/dev/null 2>&1 || rc=$?; t1=$(date +%s%N)
    if [ "$rc" -ne 0 ]; then
      echo "bench: '$*' failed (exit $rc)" >&2
      return 1
    fi
    d=$((t1 - t0)); [ "$d" -lt "$best" ] && best=$d
  done
  echo "$best"
}

# bench_build GUI TARGET...: configures the Release tree $build (LECTERN_BUILD_GUI=GUI) and
# builds TARGET... in it.
bench_build() {
  local gui=$1; shift
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI="$gui" >/dev/null
  cmake --build "$build" -j4 --target "$@" >/dev/null
}

# scratch_work: $work, a scratch folder removed at exit.
scratch_work() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# qt_work: scratch_work, with the settings, cache and data of the Qt programs (run offscreen)
# inside $work.
qt_work() {
  scratch_work
  export QT_QPA_PLATFORM=offscreen
  export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
}
