#!/usr/bin/env bash
# Runs every fuzz_* binary of a fuzz build for a bounded time over its seed corpus
# (tests/fuzz-corpus/<name without fuzz_>). Fails on the first crash or sanitizer report.
set -euo pipefail
build=${1:?build dir}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
fuzzers=("$build"/fuzz/fuzz_*)
if [[ ${#fuzzers[@]} -eq 0 ]]; then
  echo "no fuzz targets built" >&2
  exit 1
fi
for f in "${fuzzers[@]}"; do
  [[ -x "$f" ]] || continue
  name=$(basename "$f")
  corpus="$root/tests/fuzz-corpus/${name#fuzz_}"
  work=$(mktemp -d)
  seeds=()
  [[ -d "$corpus" ]] && seeds=("$corpus")
  echo "== $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/" "$work" "${seeds[@]}" 2>&1 | tail -n 15
  status=${PIPESTATUS[0]}
  if [[ $status -ne 0 ]]; then
    echo "$name failed (exit $status); artifacts in $work" >&2
    exit 1
  fi
  rm -rf "$work"
done
