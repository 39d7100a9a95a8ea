#!/usr/bin/env bash
# Builds the plug-in and asehost (release) and runs the main job on the
# bundled example: registration, an import, and a conversion back to ASE.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native
cmake --preset release >/dev/null
cmake --build --preset release --target asehost asefilter
bin=build/release/bin
out=build/release/example-out.ase
"$bin/asehost" info
"$bin/asehost" import examples/crate.ase
"$bin/asehost" convert examples/crate.ase "$out"
echo "converted: $out"
