#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root
# and something is missing. Usage: scripts/deps.sh [product|native|all]
#   product  what the module and asehost alone need (no test frameworks)
#   native   the native test suite and benchmarks too
#   all      the Windows cross build, wine, Xvfb and the fuzzer too
set -euo pipefail

product=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev)
native=(python3 python3-jsonschema assimp-utils libgtest-dev googletest libbenchmark-dev dpkg-dev locales lintian man-db)
cross=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth clang libclang-rt-14-dev unzip)

want=("${product[@]}")
case "${1:-native}" in
  product) ;;
  native) want+=("${native[@]}") ;;
  all) want+=("${native[@]}" "${cross[@]}") ;;
  *) echo "usage: $0 [product|native|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The tests read numbers under a locale whose decimal point is a comma, to
# show that the process locale changes nothing: make one where none is.
if [ "${1:-native}" != product ] && [ "$(id -u)" -eq 0 ] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
