#!/usr/bin/env bash
# Unpacks generated containers against the reference unpacker `tnef`, on the same file in the
# same run, writing every attachment (and for the last container its RTF body too):
#   about 200 MiB with 1,000 attachments;
#   one attachment of 150 MiB;
#   one attachment of 150 MiB in the MAPI block, a compressed-RTF body of 32 MiB and 32 MiB
#   of UTF-16 text that no body is made of.
# Prints for each the best wall time of both and the ratio (target <= 1.0), and the peak
# resident size of both (target: TnefKit <= 32 MiB).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/bench/lib.sh"
build=$root/build/bench
bench_build OFF tnef_bench
bin=$build/bench/tnef/tnef_bench
command -v tnef >/dev/null || { echo "the tnef command is missing (Debian package tnef)"; exit 1; }
runs=${RUNS:-5}
scratch_work

# best FOLDER COMMAND...: the best wall time in ns of $runs runs, each into a fresh FOLDER
# (made and synced outside the timing); a failing run fails the row.
best() {
  local folder=$1; shift
  local best=999999999999999 t0 t1 d
  for _ in $(seq "$runs"); do
    rm -rf "$folder"; mkdir "$folder"; sync
    t0=$(date +%s%N)
    "$@" >/dev/null || { echo "bench: '$*' failed" >&2; return 1; }
    t1=$(date +%s%N)
    d=$((t1 - t0)); [ "$d" -lt "$best" ] && best=$d
  done
  echo "$best"
}

sums() { (cd "$1" && find . -type f -exec sha256sum {} + | sed 's|message body 1.rtf|message.rtf|' | sort); }

# row LABEL FILE FILES [--bodies]: FILES is the number of files both must write.
row() {
  local label=$1 file=$2 files=$3 bodies=${4:-}
  local theirs=(tnef -f "$file" -C "$work/out")
  [ -n "$bodies" ] && theirs+=(--save-body --body-pref=r)
  local ours=("$bin" unpack "$file" "$work/out" $bodies)
  cat "$file" >/dev/null  # both start from a warm page cache
  # The outputs must agree before the figures mean anything.
  rm -rf "$work/out"; mkdir "$work/out"; "${ours[@]}" >/dev/null; mv "$work/out" "$work/a"
  mkdir "$work/out"; "${theirs[@]}"; mv "$work/out" "$work/b"
  [ "$(sums "$work/a")" = "$(sums "$work/b")" ] || { echo "$label: outputs differ"; exit 1; }
  [ "$(ls "$work/a" | wc -l)" -eq "$files" ] || { echo "$label: expected $files files"; exit 1; }
  rm -rf "$work/a" "$work/b"
  local a b ra rb
  a=$(best "$work/out" "${ours[@]}")
  b=$(best "$work/out" "${theirs[@]}")
  rm -rf "$work/out"; mkdir "$work/out"; ra=$("$bin" peak "${ours[@]}")
  rm -rf "$work/out"; mkdir "$work/out"; rb=$("$bin" peak "${theirs[@]}")
  rm -rf "$work/out"
  awk -v l="$label" -v a="$a" -v b="$b" -v ra="$ra" -v rb="$rb" 'BEGIN {
    printf "%-44s TnefKit %7.1f ms   tnef %7.1f ms   ratio %.2f (target <= 1.0)   peak TnefKit %6.1f MiB   tnef %6.1f MiB (target: TnefKit <= 32)\n",
           l, a/1e6, b/1e6, a/b, ra/1024, rb/1024 }'
  rm -f "$file"
}

count=${COUNT:-1000}
"$bin" generate "$work/many.dat" "$count" "${BYTES:-209715}"
row "$(($(stat -c %s "$work/many.dat") >> 20)) MiB, $count attachments" "$work/many.dat" "$count"
"$bin" generate "$work/one.dat" 1 $((150 << 20))
row "150 MiB, one attachment" "$work/one.dat" 1
"$bin" generate-mapi "$work/mapi.dat" $((150 << 20)) $((32 << 20)) $((32 << 20))
row "150 MiB in MAPI, 32 MiB RTF, 32 MiB text" "$work/mapi.dat" 2 --bodies
