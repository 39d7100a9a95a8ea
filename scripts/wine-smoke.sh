#!/usr/bin/env bash
# Smoke test of the Windows build under wine: asehost.exe loads the DLL,
# checks version 3606, registers it and prints the registration; then it
# imports the bundled example and converts it, through the real options
# dialog on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$1"
out="$(wine "$bin/asehost.exe" info "$(winepath -w "$bin/asefilter.dll")" | tr -d '\r')"
echo "$out"
grep -q '3606' <<<"$out"
grep -qF 'ASCII 3D Studio Max Importer/Exporter\r\n' <<<"$out"
grep -qF '3.50.60' <<<"$out"
grep -qF 'ASCII Max files (*.ase)' <<<"$out"

wine "$bin/asehost.exe" import examples/crate.ase --json >/dev/null
target="$(mktemp -d /tmp/asefilter-smoke.XXXXXX)"
trap 'rm -rf "$target"' EXIT
converted="$(winepath -w "$target/crate.ase")"
# A wine server started without a display would serve the dialog without one.
wineserver -w
xvfb-run -a wine "$bin/asehost.exe" convert examples/crate.ase "$converted" --smoothing angle --angle 40
grep -q '^\*GEOMOBJECT {' "$target/crate.ase"
# Written in text mode: every line ends in CR LF.
[ "$(grep -c $'\r$' "$target/crate.ase")" -eq "$(wc -l < "$target/crate.ase")" ]
echo "wine smoke test: passed"
