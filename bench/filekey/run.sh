#!/usr/bin/env bash
# Content key of a 2 GiB sparse file and a 100 MiB file, against
# `head -c 10485760 FILE | md5sum` on the same file in the same run. The ratio is the key as the
# application computes it (in process); the whole-process figure adds our binary's start-up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLECTERN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target filekey_bench >/dev/null
bin=$build/bench/filekey/filekey_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 2G "$work/sparse.bin"
head -c 104857600 /dev/urandom >"$work/random.bin"
runs=${RUNS:-30}

peer() { head -c 10485760 "$1" | md5sum; }

for f in sparse.bin random.bin; do
  p="$work/$f"
  # The digests must agree before the times mean anything.
  ours=$("$bin" "$p" | cut -c1-32)
  theirs=$(peer "$p" | cut -c1-32)
  [ "$ours" = "$theirs" ] || { echo "digest mismatch for $f"; exit 1; }
  whole=$(best_ns "$bin" "$p")          # a process of ours per key, start-up included
  inproc=$("$bin" --repeat "$runs" "$p")  # the key as the application computes it
  b=$(best_ns peer "$p")
  awk -v f="$f" -v a="$inproc" -v w="$whole" -v b="$b" 'BEGIN {
    printf "%-11s key %.2f ms (whole process %.2f ms)   head|md5sum %.2f ms   ratio %.2f, whole process %.2f (target <= 1.2)\n",
           f, a/1e6, w/1e6, b/1e6, a/b, w/b }'
done
