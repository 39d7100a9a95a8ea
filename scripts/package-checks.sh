#!/usr/bin/env bash
# Checks the packages CPack makes. Usage:
#   scripts/package-checks.sh deb BUILD_DIR   the .deb of a native build: its
#       contents, its changelog against the version, its manual page against
#       asehost's help, lintian (no errors), then (as root only) dpkg -i, the
#       installed asehost run from its installed path, dpkg -r
#   scripts/package-checks.sh zip BUILD_DIR   the zip of the Windows build: its
#       contents, the DLL's and the executable's version resource, README.txt
#       naming every command, and the unpacked asehost.exe under wine
set -euo pipefail
cd "$(dirname "$0")/.."
kind="$1"
build="$2"
version="$(sed -n 's/^#define ASEFILTER_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/asefilter/version.h")"
[ -n "$version" ]
work="$(mktemp -d /tmp/asefilter-package.XXXXXX)"
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

expect_listed() {  # LISTING PATH...
  local listing="$1"; shift
  for path in "$@"; do
    grep -qxF "$path" <<<"$listing" || { echo "package lacks $path" >&2; exit 1; }
  done
}

case "$kind" in
deb)
  (cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
  deb="$(echo "$work"/out/asefilter_"$version"_*.deb)"
  [ -f "$deb" ] || { echo "no .deb for $version in $work/out" >&2; exit 1; }
  listing="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')"
  expect_listed "$listing" /usr/bin/asehost /usr/lib/asefilter/asefilter.so \
    /usr/include/asefilter/host_api.h /usr/lib/cmake/asefilter/asefilterConfig.cmake \
    /usr/share/asefilter/scene.schema.json /usr/share/man/man1/asehost.1.gz \
    /usr/share/doc/asefilter/copyright /usr/share/doc/asefilter/changelog.gz
  dpkg-deb -f "$deb" Package Version Depends
  dpkg-deb -x "$deb" "$work/root"
  # A new version needs its own changelog entry.
  top="$(zcat "$work/root/usr/share/doc/asefilter/changelog.gz" | sed -n '1s/^asefilter (\([^)]*\)).*/\1/p')"
  [ "$top" = "$version" ] || { echo "changelog's latest entry is $top, the package $version" >&2; exit 1; }
  # The manual page holds every command and every option asehost's help shows.
  manual="$(MANWIDTH=200 man -l "$work/root/usr/share/man/man1/asehost.1.gz" 2>"$work/man.err")"
  [ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; exit 1; }
  host="$build/bin/asehost"
  commands="$("$host" help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]\+\) .*/\1/p')"
  [ -n "$commands" ]
  for command in $commands; do
    grep -q "^   $command\$" <<<"$manual" || { echo "manual page lacks the command $command" >&2; exit 1; }
    for option in $("$host" help "$command" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
      grep -qF -- "$option" <<<"$manual" || { echo "manual page lacks $command $option" >&2; exit 1; }
    done
  done
  command -v lintian >/dev/null || { echo "lintian is not installed (scripts/deps.sh native)" >&2; exit 1; }
  # Errors fail the check; warnings are shown.
  lintian --fail-on error "$deb" || { echo "lintian found errors in the .deb" >&2; exit 1; }
  if [ "$(id -u)" -ne 0 ]; then
    echo "package check: not root, the .deb is not installed (dpkg -i needs root)"
    exit 0
  fi
  if dpkg-query -W -f='${Status}' asefilter 2>/dev/null | grep -q "install ok installed"; then
    echo "package check: an asefilter package is installed already; left alone, the .deb is not installed"
    exit 0
  fi
  dpkg -i "$deb"
  trap 'dpkg -r asefilter >/dev/null || true; cleanup' EXIT
  # From another folder, through PATH: the module is found from where
  # asehost was installed.
  out="$(cd "$work" && asehost info)"
  echo "$out"
  grep -qF "$version" <<<"$out"
  grep -qF "module: /usr/bin/../lib/asefilter/asefilter.so" <<<"$out"
  (cd "$work" && asehost import "$OLDPWD/examples/crate.ase" >/dev/null)
  dpkg -r asefilter
  trap cleanup EXIT
  [ ! -e /usr/bin/asehost ] && [ ! -e /usr/lib/asefilter/asefilter.so ]
  echo "package check: .deb installed, ran and removed"
  ;;
zip)
  (cd "$build" && cpack -G ZIP -B "$work/out" >/dev/null)
  zip="$(echo "$work"/out/asefilter-"$version"-*.zip)"
  [ -f "$zip" ] || { echo "no zip for $version in $work/out" >&2; exit 1; }
  listing="$(unzip -Z1 "$zip")"
  echo "$listing"
  expect_listed "$listing" asefilter.dll asehost.exe README.txt LICENSES.txt scene.schema.json \
    include/asefilter/host_api.h lib/cmake/asefilter/asefilterConfig.cmake
  unzip -q "$zip" -d "$work/unpacked"
  grep -qF "$version" "$work/unpacked/README.txt"
  grep -qF "License: BSD-3-clause" "$work/unpacked/LICENSES.txt"
  grep -qF "License: Expat" "$work/unpacked/LICENSES.txt"
  # The fixed part of each VERSIONINFO holds the four numbers.
  python3 - "$version" "$work/unpacked/asefilter.dll" "$work/unpacked/asehost.exe" <<'PY'
import struct, sys
major, minor, patch = (int(n) for n in sys.argv[1].split("."))
for name in sys.argv[2:]:
    data = open(name, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        sys.exit(f"{name}: no version resource")
    ms, ls, pms, pls = struct.unpack_from("<4I", data, at + 8)
    if (ms, ls) != ((major << 16) | minor, patch << 16) or (pms, pls) != (ms, ls):
        sys.exit(f"{name}: version resource {ms >> 16}.{ms & 0xffff}.{ls >> 16}.{ls & 0xffff}")
    if sys.argv[1].encode("utf-16-le") not in data:
        sys.exit(f"{name}: no version text in the resource")
PY
  # The unpacked executable finds the DLL beside it.
  out="$(wine "$work/unpacked/asehost.exe" info | tr -d '\r')"
  grep -qF "$version" <<<"$out"
  # README.txt explains every command asehost.exe has, and both lists of
  # exit codes.
  commands="$(wine "$work/unpacked/asehost.exe" help | tr -d '\r' | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]\+\) .*/\1/p')"
  [ -n "$commands" ]
  for command in $commands; do
    grep -q "^    asehost.exe $command\b" "$work/unpacked/README.txt" || { echo "README.txt lacks the command $command" >&2; exit 1; }
  done
  grep -q "^Exit codes" "$work/unpacked/README.txt" && grep -q "^check has its own" "$work/unpacked/README.txt"
  wineserver -w
  echo "package check: zip contents, version resources and the unpacked asehost.exe"
  ;;
*)
  echo "usage: $0 deb|zip BUILD_DIR" >&2; exit 2 ;;
esac
