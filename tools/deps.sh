#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those missing.
set -euo pipefail
packages=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev zlib1g-dev libgtest-dev libbenchmark-dev clang-format qt6-base-dev
          qt6-charts-dev qt6-qpa-plugins clang libclang-rt-dev
          help2man desktop-file-utils dpkg-dev file libpng-dev libnetcdf-dev ffmpeg libmpfr-dev
          pybind11-dev python3-dev python3-numpy python3-pandas python3-pytest python3-scipy
          python3-matplotlib python3-nbconvert python3-ipykernel python3-tqdm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
