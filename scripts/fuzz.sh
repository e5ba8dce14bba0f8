#!/usr/bin/env bash
# Runs every fuzz target in the fuzz build for the given number of seconds each.
set -euo pipefail
dir=$1 seconds=$2
shopt -s nullglob
targets=("$dir"/fuzz/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets built yet"
  exit 0
fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
done
