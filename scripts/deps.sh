#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root
# and something is missing. Usage: scripts/deps.sh [native|all]
set -euo pipefail

native=(cmake ninja-build g++ python3 python3-jsonschema libgtest-dev googletest libbenchmark-dev nlohmann-json3-dev libcli11-dev)
cross=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth clang libclang-rt-14-dev)

want=("${native[@]}")
if [ "${1:-native}" = all ]; then want+=("${cross[@]}"); fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
