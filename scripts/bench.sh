#!/usr/bin/env bash
# Runs every benchmark of the release build; corpora are generated into the build folder.
set -euo pipefail
dir=$(cd "$1" && pwd)
shopt -s nullglob
for b in "$dir"/bench/*_bench; do
  echo "== $(basename "$b")"
  (cd "$dir/bench" && "$b" --benchmark_counters_tabular=true)
done
# Whole-program figures: the program itself on a pseudo-terminal.
for s in "$(dirname "$0")"/../bench/*.py; do
  if [ -x "$dir/cli/orvik" ]; then
    echo "== $(basename "$s")"
    python3 "$s" "$dir/cli/orvik"
  fi
done
