#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with; only the ones
# that are missing, so a prepared machine pays nothing.
set -euo pipefail

packages=(g++ cmake ninja-build make libhdf5-dev hdf5-tools libboost-dev libgtest-dev
          libbenchmark-dev libsqlite3-dev python3-h5py python3-numpy gnuplot-nox clang
          libclang-rt-dev doxygen hdf5-filter-plugin hdf5-filter-plugin-blosc-serial
          python3-hdf5plugin nlohmann-json3-dev libcli11-dev dpkg-dev pkg-config libisal-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
