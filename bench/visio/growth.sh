#!/usr/bin/env bash
# How the conversion grows with the drawing: floor plans (floorplan.py: a dashed hairline grid,
# walls, furniture groups, dimension lines with their text) of 500, 1,000, 2,000 and 5,000
# shapes on one page, ours in process (best of $RUNS) against `vsd2xhtml` (whole process, best
# of $RUNS), with the time per shape of each. Ours must grow linearly: its time per shape
# stays flat as the drawing grows. With KEEP=DIR the drawings are left in DIR (for run.sh DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j3 --target visio_bench >/dev/null
bin=$build/bench/visio/visio_bench
runs=${RUNS:-5}
scratch_work
export XDG_DATA_HOME=$work/data
drawings=${KEEP:-$work/drawings}
mkdir -p "$drawings"

printf "%8s %12s %12s %7s %14s %14s\n" shapes "ours ms" "vsd2xhtml ms" ratio "ours us/shape" "peer us/shape"
for n in 500 1000 2000 5000; do
  f=$drawings/floorplan-$n.vdx
  python3 "$root/bench/visio/floorplan.py" "$n" 1 "$f"
  "$bin" "$f" >/dev/null || { echo "conversion failed: $f"; exit 1; }
  read -r ours _ < <("$bin" --repeat "$runs" "$f")
  peer=$(best_ns vsd2xhtml "$f")
  awk -v n="$n" -v a="$ours" -v b="$peer" 'BEGIN {
    printf "%8d %12.2f %12.2f %7.2f %14.1f %14.1f\n", n, a/1e6, b/1e6, a/b, a/1e3/n, b/1e3/n }'
done
