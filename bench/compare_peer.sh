#!/usr/bin/env bash
# Runs asehost beside the peer importer `assimp` (Debian's assimp-utils) on
# the same generated scenes and prints paired ratios of whole-process CPU
# time (user + sys) and peak resident memory, as /usr/bin/time -v reports
# them (the CPU time at microsecond resolution, from wait4). Each pair runs RUNS times (default 5), its two sides alternating
# which goes first; the figures are medians over the runs.
#
#   bench/compare_peer.sh [ASEHOST]
#
# ASEHOST defaults to build/release/bin/asehost (the plug-in next to it).
# A peer run longer than PEER_TIMEOUT seconds (default 60) is stopped and its
# pair printed with the asehost figures alone (assimp takes minutes on the
# 20,000 objects).
# Scenes are generated once into BENCH_DIR (default /tmp/asefilter-peer)
# with gen_ase.py (GEN_ASE, else ../shared/tools/gen_ase.py beside the
# checkout): mid.ase (8 objects of a 120-quad grid, 500 keys, about 105 MB),
# objects.ase (20,000 small objects) and keys.ase (one object with a
# 200,000-key track). Without assimp the peer rows are skipped; the export
# and JSON rows need only asehost.
#
# Rows:
#   import / assimp info    CPU and peak of `asehost import F` over `assimp info F`
#   export MB/s             output bytes over CPU(convert) - CPU(import), both layouts
#   export json / convert   `asehost export F.json` over `asehost convert F` (same options)
set -euo pipefail
cd "$(dirname "$0")/.."
asehost="${1:-build/release/bin/asehost}"
runs="${RUNS:-5}"
dir="${BENCH_DIR:-/tmp/asefilter-peer}"
gen="${GEN_ASE:-}"
if [[ -z "$gen" ]]; then
    for candidate in ../shared/tools/gen_ase.py ../../shared/tools/gen_ase.py; do
        [[ -f "$candidate" ]] && { gen="$candidate"; break; }
    done
fi
[[ -x "$asehost" ]] || { echo "no asehost at $asehost (build the release preset first)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time (GNU time) is needed: apt-get install time" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed" >&2; exit 1; }
mkdir -p "$dir"

make_scene() {  # NAME ARGS...
    local name="$1"; shift
    [[ -s "$dir/$name" ]] && return 0
    [[ -n "$gen" && -f "$gen" ]] || { echo "gen_ase.py not found: set GEN_ASE" >&2; exit 1; }
    echo "generating $name ($*)" >&2
    python3 "$gen" "$dir/$name.partial" "$@" && mv "$dir/$name.partial" "$dir/$name"
}
make_scene mid.ase 8 120 500
make_scene objects.ase 20000 2
make_scene keys.ase 1 1 200000
if [[ ! -s "$dir/mid.json" ]]; then
    "$asehost" import "$dir/mid.ase" --json >"$dir/mid.json.partial" && mv "$dir/mid.json.partial" "$dir/mid.json"
fi

peer=""
if command -v assimp >/dev/null; then
    peer="$(command -v assimp)"
else
    echo "assimp not found (apt-get install assimp-utils): peer rows skipped" >&2
fi

exec python3 - "$asehost" "$runs" "$dir" "$peer" "${PEER_TIMEOUT:-60}" <<'PY'
import os, statistics, subprocess, sys, tempfile, threading

asehost, runs, folder, peer = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
peer_timeout = float(sys.argv[5])
out = os.path.join(folder, "out.ase")

class TooLong(Exception):
    pass

def measure(argv, timeout=None):
    """CPU seconds (user + sys), peak RSS in MiB and minor faults of one run.

    Peak and faults are what /usr/bin/time -v reports; the CPU time is the
    same process's, taken from wait4 (microseconds, where time -v prints
    hundredths)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        with open(os.devnull, "wb") as null:
            child = subprocess.Popen(["/usr/bin/time", "-v", "-o", report.name] + argv, stdout=null, stderr=null,
                                     start_new_session=True)
            stopped = []
            def stop():
                stopped.append(True)
                os.killpg(child.pid, 9)
            timer = threading.Timer(timeout, stop) if timeout else None
            if timer:
                timer.start()
            _, status, usage = os.wait4(child.pid, 0)
            child.returncode = os.waitstatus_to_exitcode(status)
            if timer:
                timer.cancel()
            if stopped:
                raise TooLong()
        fields = {}
        for line in report:
            key, _, value = line.strip().rpartition(": ")
            fields[key] = value
    if child.returncode != 0:
        sys.exit("failed (%d): %s" % (child.returncode, " ".join(argv)))
    cpu = usage.ru_utime + usage.ru_stime
    return cpu, int(fields["Maximum resident set size (kbytes)"]) / 1024.0, int(fields["Minor (reclaiming a frame) page faults"])

def paired(a, b, timeout_b=None):
    """Runs a and b `runs` times, alternating which goes first."""
    ra, rb = [], []
    for n in range(runs):
        if n % 2 == 0:
            ra.append(measure(a)); rb.append(measure(b, timeout_b))
        else:
            rb.append(measure(b, timeout_b)); ra.append(measure(a))
    return ra, rb

def med(results, i):
    return statistics.median(r[i] for r in results)

def ratio(ra, rb, i):
    return statistics.median(x[i] / y[i] if y[i] else float("nan") for x, y in zip(ra, rb))

mib = lambda path: os.path.getsize(path) / 1048576.0
print("runs per pair: %d (medians; ratios are medians of paired ratios)" % runs)
print()
print("%-34s %9s %9s %7s %9s %9s %7s %9s" % ("pair (a / b)", "cpu a s", "cpu b s", "ratio", "peak a", "peak b", "ratio", "faults a"))

def row(label, ra, rb):
    print("%-34s %9.3f %9.3f %7.2f %8.1fM %8.1fM %7.2f %9d" % (
        label, med(ra, 0), med(rb, 0), ratio(ra, rb, 0), med(ra, 1), med(rb, 1), ratio(ra, rb, 1), med(ra, 2)))

for name in ("mid.ase", "objects.ase", "keys.ase"):
    path = os.path.join(folder, name)
    label = "import / assimp info  %s" % name
    try:
        if not peer:
            raise TooLong()
        ra, rb = paired([asehost, "import", path], [peer, "info", path], peer_timeout)
        row(label, ra, rb)
    except TooLong:
        ra = [measure([asehost, "import", path]) for _ in range(runs)]
        note = "no peer" if not peer else "peer > %.0f s" % peer_timeout
        print("%-34s %9.3f %9s %7s %8.1fM %9s %7s %9d" % (label, med(ra, 0), note, "", med(ra, 1), "", "", med(ra, 2)))

mid = os.path.join(folder, "mid.ase")
imports = None
rates = []
for layout, flags in (("split", ["--split-vertices-per-uv=on"]), ("indexed", ["--split-vertices-per-uv=off"])):
    rc, ri = paired([asehost, "convert", mid, out] + flags, [asehost, "import", mid])
    size = os.path.getsize(out)
    mbs = [size / 1e6 / (c[0] - i[0]) if c[0] > i[0] else float("nan") for c, i in zip(rc, ri)]
    rates.append((layout, size, statistics.median(mbs), med(rc, 0), med(ri, 0)))
    json = os.path.join(folder, "mid.json")
    re_, rc2 = paired([asehost, "export", json, out] + flags, [asehost, "convert", mid, out] + flags)
    row("export json / convert  %s" % layout, re_, rc2)
print()
for layout, size, rate, c, i in rates:
    print("export %-8s %7.1f MB written; convert %.3f s - import %.3f s: %.0f MB/s of CPU (median of paired)" % (
        layout, size / 1e6, c, i, rate))
print("file mid.ase %.1f MiB" % mib(mid))
PY
