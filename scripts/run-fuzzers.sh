#!/usr/bin/env bash
# Runs every fuzz_* binary of a fuzz build for a bounded time over its seed corpus
# (tests/fuzz-corpus/<name without fuzz_>), all at once: the budget is wall time, and one
# fuzzer after another kept a core idle. Fails when any of them crashes or reports.
set -uo pipefail
build=${1:?build dir}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
fuzzers=("$build"/fuzz/fuzz_*)
if [[ ${#fuzzers[@]} -eq 0 ]]; then
  echo "no fuzz targets built" >&2
  exit 1
fi
declare -A pids works
for f in "${fuzzers[@]}"; do
  [[ -x "$f" ]] || continue
  name=$(basename "$f")
  corpus="$root/tests/fuzz-corpus/${name#fuzz_}"
  work=$(mktemp -d)
  seeds=()
  [[ -d "$corpus" ]] && seeds=("$corpus")
  echo "== $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/" "$work" "${seeds[@]}" >"$work.log" 2>&1 &
  pids[$name]=$!
  works[$name]=$work
done
failed=0
for name in "${!pids[@]}"; do
  wait "${pids[$name]}"
  status=$?
  echo "== $name"
  tail -n 15 "${works[$name]}.log"
  if [[ $status -ne 0 ]]; then
    echo "$name failed (exit $status); artifacts in ${works[$name]}" >&2
    failed=1
  else
    rm -rf "${works[$name]}" "${works[$name]}.log"
  fi
done
exit $failed
