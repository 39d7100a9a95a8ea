#!/usr/bin/env bash
# Builds and runs every test: the native suite in release and under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build under wine
# (the real options dialog on a virtual display) with a smoke test of
# asehost.exe, the packages (the .deb installed and run when root, the zip's
# contents), and both fuzzers for a few minutes.
# FUZZ_SECONDS sets the fuzzing time (default 180).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh all
jobs=$(nproc)

echo "== native suite (release)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

echo "== Debian package"
scripts/package-checks.sh deb build/release

echo "== native suite (ASan + UBSan)"
cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j "$jobs"
ctest --preset debug-asan -j "$jobs"

echo "== Windows build under wine"
export WINEPREFIX="$(mktemp -d /tmp/asefilter-wine.XXXXXX)" WINEARCH=win64 WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
wineboot -i >/dev/null 2>&1 || true
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j 1
scripts/wine-smoke.sh build/windows/bin

echo "== Windows zip"
scripts/package-checks.sh zip build/windows

echo "== fuzzers (import and export)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
scripts/fuzz.sh "${FUZZ_SECONDS:-180}"
