#!/usr/bin/env bash
# Runs every fuzz target in the fuzz build for the given number of seconds each. A target's seed
# inputs (<folder>/fuzz/seeds/<target>/) and dictionary (<folder>/fuzz/<target>.dict) are used when
# present; new inputs go to the build's own corpus folder.
set -euo pipefail
dir=$1 seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
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
  options=() seed_dirs=()
  for dict in "$root"/*/fuzz/"$name".dict; do options+=(-dict="$dict"); done
  for seeds in "$root"/*/fuzz/seeds/"$name"; do seed_dirs+=("$seeds"); done
  echo "fuzz: $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${options[@]}" \
    "$corpus" "${seed_dirs[@]}" 2>&1 | tail -n 12
done
