#!/usr/bin/env bash
# Builds the plug-in and asehost alone (release, no tests or benchmarks) and
# runs the main job on the bundled example: registration, an import, and a
# conversion back to ASE.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh product
cmake --preset product >/dev/null
cmake --build --preset product
bin=build/product/bin
out=build/product/example-out.ase
"$bin/asehost" info
"$bin/asehost" import examples/crate.ase
"$bin/asehost" convert examples/crate.ase "$out"
echo "converted: $out"
