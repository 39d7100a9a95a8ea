#!/usr/bin/env bash
# Runs the import fuzzer for SECONDS (default 180) from a seed corpus of the
# test fixtures and the example. Any crash, leak or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-180}"
fuzzer=build/fuzz/fuzz/import_fuzzer
corpus="$(mktemp -d /tmp/asefilter-corpus.XXXXXX)"
trap 'rm -rf "$corpus"' EXIT
find tests/data examples -type f \( -iname '*.ase' -o -iname '*.txt' \) -size -64k -exec cp -t "$corpus" {} + 2>/dev/null || true
"$fuzzer" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 -timeout=10 \
  -print_final_stats=1 "$corpus" 2>&1 | tail -n 25
