#!/usr/bin/env bash
# Runs every benchmark of the release build; corpora are generated into the build folder.
set -euo pipefail
dir=$1
shopt -s nullglob
for b in "$dir"/bench/*_bench; do
  echo "== $(basename "$b")"
  (cd "$dir/bench" && "$b" --benchmark_counters_tabular=true)
done
