#!/usr/bin/env bash
# Smoke test of the Windows build under wine: asehost.exe loads the DLL,
# checks version 3606, registers it and prints the registration.
set -euo pipefail
bin="$1"
out="$(wine "$bin/asehost.exe" info "$bin/asefilter.dll" | tr -d '\r')"
echo "$out"
grep -q '3606' <<<"$out"
grep -qF 'ASCII 3D Studio Max Importer/Exporter\r\n' <<<"$out"
grep -qF '3.50.60' <<<"$out"
grep -qF 'ASCII Max files (*.ase)' <<<"$out"
echo "wine smoke test: passed"
