#!/usr/bin/env bash
# A program of the product must be a PE32 program for i386 that Windows 95
# and NT 4 will load (subsystem version 4.0) and that needs no DLL those
# systems lack: no C runtime, no libstdc++ or libgcc DLL.
#
#   check_pe.sh <exe> [gui|console [allowed DLL...]]
#
# PE_MAX_BYTES in the environment, when set, is the most the file may hold.
#
# Defaults: the installer's, a GUI program importing at most kernel32,
# user32, advapi32, shell32, version and lz32. kernel32 is always required,
# and user32 too for a GUI program.
set -euo pipefail
exe=${1:?usage: check_pe.sh <exe> [gui|console [allowed DLL...]]}
kind=${2:-gui}
shift $(($# < 2 ? $# : 2))
allowed=${*:-kernel32.dll user32.dll advapi32.dll shell32.dll version.dll lz32.dll}
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$exe" ] || fail "$exe does not exist"
dump=$(i686-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read $exe"
if [ -n "${PE_MAX_BYTES:-}" ]; then
  bytes=$(stat -c %s "$exe")
  [ "$bytes" -le "$PE_MAX_BYTES" ] || fail "$bytes bytes, more than $PE_MAX_BYTES"
fi

case "$kind" in
  gui) subsystem=00000002; required="kernel32.dll user32.dll" ;;
  console) subsystem=00000003; required="kernel32.dll" ;;
  *) fail "unknown program kind $kind" ;;
esac
grep -q 'file format pei-i386' <<<"$dump" || fail "not a PE32 i386 image"
grep -Eq '^Magic[[:space:]]+010b' <<<"$dump" || fail "optional header is not PE32"
grep -Eq "^Subsystem[[:space:]]+$subsystem" <<<"$dump" || fail "subsystem is not $kind"
grep -Eq '^MajorSubsystemVersion[[:space:]]+4$' <<<"$dump" || fail "major subsystem version is not 4"
grep -Eq '^MinorSubsystemVersion[[:space:]]+0$' <<<"$dump" || fail "minor subsystem version is not 0"

dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]' | sort -u)
[ -n "$dlls" ] || fail "no imports found"
for dll in $dlls; do
  case " $allowed " in
    *" $dll "*) ;;
    *) fail "imports $dll" ;;
  esac
done
for needed in $required; do
  grep -qx "$needed" <<<"$dlls" || fail "does not import $needed"
done
# The LZ functions must come from LZ32.DLL, which every Windows has;
# kernel32 exports them only on some versions.
lz_from=$(awk '/DLL Name:/ { dll = tolower($3) } /[[:space:]]LZ(OpenFileA|Copy|Close)$/ { print dll }' <<<"$dump" | sort -u)
[ -z "$lz_from" ] || [ "$lz_from" = lz32.dll ] || fail "LZ functions imported from $lz_from"
echo "PASS: ${dlls//$'\n'/ }"
