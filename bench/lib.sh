# Shared by the benchmark scripts (sourced).

# best_ns COMMAND...: the best wall time, in nanoseconds, of $runs runs of COMMAND (output dropped).
best_ns() {
  local best=999999999999 t0 t1 d
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
    d=$((t1 - t0)); [ "$d" -lt "$best" ] && best=$d
  done
  echo "$best"
}
