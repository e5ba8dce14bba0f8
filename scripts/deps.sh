#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, and only those that are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config python3
  nlohmann-json3-dev libfmt-dev libutf8proc-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-16 libclang-rt-16-dev
  tmux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
