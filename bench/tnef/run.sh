#!/usr/bin/env bash
# Unpacks a generated container of about 200 MiB with 1,000 attachments, writing every
# attachment, against the reference unpacker `tnef` on the same file in the same run.
# Prints the best wall time of each and the ratio (target <= 1.0).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build/bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target tnef_bench >/dev/null
bin=$build/bench/tnef/tnef_bench
command -v tnef >/dev/null || { echo "the tnef command is missing (Debian package tnef)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=${COUNT:-1000}
bytes=${BYTES:-209715}
runs=${RUNS:-5}
"$bin" generate "$work/big.dat" "$count" "$bytes"
cat "$work/big.dat" >/dev/null  # both tools start from a warm page cache

ours() { "$bin" unpack "$work/big.dat" "$1" >/dev/null; }
theirs() { tnef -f "$work/big.dat" -C "$1"; }

best() { # function; best of $runs wall times in ns, each into a fresh folder
  local best=999999999999999 t0 t1 d
  for i in $(seq "$runs"); do
    rm -rf "$work/out"; mkdir "$work/out"; sync
    t0=$(date +%s%N); "$1" "$work/out"; t1=$(date +%s%N)
    d=$((t1 - t0)); [ "$d" -lt "$best" ] && best=$d
  done
  echo "$best"
}

# The outputs must agree before the times mean anything.
rm -rf "$work/a" "$work/b"; mkdir "$work/a" "$work/b"
ours "$work/a"; theirs "$work/b"
sum() { (cd "$1" && find . -type f -exec sha256sum {} + | sort); }
[ "$(sum "$work/a")" = "$(sum "$work/b")" ] || { echo "outputs differ"; exit 1; }
[ "$(ls "$work/a" | wc -l)" -eq "$count" ] || { echo "expected $count attachments"; exit 1; }
rm -rf "$work/a" "$work/b"

a=$(best ours)
b=$(best theirs)
size=$(stat -c %s "$work/big.dat")
awk -v a="$a" -v b="$b" -v s="$size" -v n="$count" 'BEGIN {
  printf "%.0f MiB, %d attachments: TnefKit %.1f ms   tnef %.1f ms   ratio %.2f (target <= 1.0)\n",
         s/1048576, n, a/1e6, b/1e6, a/b }'
