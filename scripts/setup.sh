#!/usr/bin/env bash
# Installs what varpair needs to build and test, from Debian's packages, when it is missing.
# Usage: scripts/setup.sh
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libgsl-dev libeigen3-dev libhts-dev libhwy-dev pkg-config clang libclang-rt-14-dev python3 python3-venv python3-matplotlib python3-statsmodels)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
