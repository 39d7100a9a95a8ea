#!/usr/bin/env bash
# Runs the three fuzz targets for SECONDS in total (default 180), split
# between them: the import fuzzer (bytes as an .ase file), the check fuzzer
# (the same bytes through asehost check) and the export fuzzer (dialog
# choices and a JSON scene). Seeds are the test fixtures and the
# example, with byte-order-mark versions of the small ASE fixtures (UTF-8,
# UTF-16 LE and BE) made here. The corpus folders are kept under
# build/fuzz/corpus between runs; findings land in build/fuzz/artifacts.
# Any crash, leak, timeout or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-180}"
bin=build/fuzz/fuzz
# Relative on purpose: the fuzzers must keep working from the folder they
# were started in, whatever an import does to the current directory.
corpus=build/fuzz/corpus
artifacts=build/fuzz/artifacts
mkdir -p "$corpus/import" "$corpus/check" "$corpus/export" "$artifacts"

echo "== seeds"
# Each seed named after its path, so that fixtures of one name in different
# folders do not collide.
find tests/data examples -type f -iname '*.ase' -size -256k | while IFS= read -r seed; do
    cp "$seed" "$corpus/import/$(printf '%s' "$seed" | tr '/' '_')"
done
python3 - "$corpus" <<'PY'
import glob, os, sys
corpus = sys.argv[1]
# Byte-order-mark versions of the small fixtures: the reader converts such
# text before scanning it, a path plain fixtures never reach.
for path in sorted(glob.glob("tests/data/e2e/*.ase")) + sorted(glob.glob("examples/*.ase")):
    data = open(path, "rb").read()
    if len(data) > 16384:
        continue
    text = data.decode("latin-1")
    stem = os.path.join(corpus, "import", "bom-" + os.path.basename(path)[:-4])
    open(stem + "-utf8.ase", "wb").write(b"\xef\xbb\xbf" + data)
    open(stem + "-utf16le.ase", "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
    open(stem + "-utf16be.ase", "wb").write(b"\xfe\xff" + text.encode("utf-16-be"))
    # An odd byte count: a lone trailing byte after the last full unit.
    open(stem + "-utf16le-odd.ase", "wb").write(b"\xff\xfe" + text.encode("utf-16-le") + b"A")
# Export inputs: two bytes of check boxes and smoothing, an angle text of n
# bytes after n, then the scene (see fuzz/export_fuzzer.cpp).
prefixes = {
    "defaults": bytes([0x8f, 0x00, 0]),
    "all-on": bytes([0xff, 0x03, 0]),
    "all-off": bytes([0x00, 0x00, 0]),
    "by-group": bytes([0xbf, 0x05, 0]),
    "by-angle": bytes([0x5f, 0x0a, 4]) + b"45.5",
    "single-multi": bytes([0xa3, 0x01, 0]),
}
scenes = []
for path in sorted(glob.glob("tests/data/**/*.json", recursive=True)):
    scenes.append((os.path.basename(path)[:-5], open(path, "rb").read()))
for n, line in enumerate(open("tests/data/host/bad_scenes.txt", "rb").read().split(b"\n")):
    if line and not line.startswith(b"#") and b"\t" in line:
        scenes.append(("bad%02d" % n, line.split(b"\t", 1)[1]))
for name, scene in scenes:
    for label, prefix in prefixes.items():
        if name.startswith("bad") and label != "defaults":
            continue
        open(os.path.join(corpus, "export", name + "-" + label), "wb").write(prefix + scene)
PY

run() {
    local name="$1" time="$2"
    echo "== $name for ${time}s"
    # -max_len: 1 MiB, so that flood and budget paths are in reach.
    # -close_fd_mask: the plug-in's message boxes go to stderr on Linux;
    # libFuzzer and the sanitizers keep a copy of it for their reports.
    "$bin/$name" -max_total_time="$time" -max_len=1048576 -rss_limit_mb=2048 -timeout=10 -close_fd_mask=3 \
        -artifact_prefix="$artifacts/$name-" -print_final_stats=1 "$corpus/${name%_fuzzer}" \
        >"$artifacts/$name.log" 2>&1 || { tail -n 60 "$artifacts/$name.log"; return 1; }
    grep -E '^#[0-9]+.*(DONE|pulse)|^stat::' "$artifacts/$name.log" | tail -n 8
}

# check reads what the import reads: it starts from the same seeds.
cp -n "$corpus"/import/* "$corpus/check/"

third=$((seconds / 3))
status=0
run import_fuzzer $((seconds - 2 * third)) || status=1
run check_fuzzer "$third" || status=1
run export_fuzzer "$third" || status=1
exit $status
