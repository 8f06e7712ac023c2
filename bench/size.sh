#!/usr/bin/env bash
# The installer's size. The figure is wfpatch_bare.exe, the installer built
# from the same objects without the payload and the PIF template: its own
# code, its imports and its non-payload resources (manifest and message
# strings, the progress dialog). The reference is the smallest stub of the
# NSIS package (Debian's nsis, /usr/share/nsis/Stubs), found in this run.
#   bench/size.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: size.sh BUILD_DIR}
bare=$build/win/wfpatch_bare.exe
whole=$build/dist/wfpatch.exe
stubs=/usr/share/nsis/Stubs
goal=12288
echo "size: $bare and $whole beside the smallest PE in $stubs" >&2

for f in "$bare" "$whole"; do
  [ -f "$f" ] || { echo "size: $f is missing; build $build first" >&2; exit 1; }
done

# The smallest file of the stubs folder that is a program (it also holds an
# icon).
stub='' stub_bytes=''
for f in "$stubs"/*; do
  [ "$(od -An -c -N2 "$f" | tr -d " ")" = MZ ] || continue
  bytes=$(stat -c %s "$f")
  if [ -z "$stub_bytes" ] || [ "$bytes" -lt "$stub_bytes" ]; then
    stub=$f stub_bytes=$bytes
  fi
done
[ -n "$stub" ] || { echo "size: no stub in $stubs (is nsis installed?)" >&2; exit 1; }
echo "size: reference $stub" >&2

bare_bytes=$(stat -c %s "$bare")
whole_bytes=$(stat -c %s "$whole")

# A section's size as the loader sees it (its virtual size), 0 when absent.
section() {
  local hex
  hex=$(i686-w64-mingw32-objdump -h "$1" | awk -v name="$2" '$2 == name { print $3 }')
  echo $((16#${hex:-0}))
}
code=$(section "$bare" .text)
rdata=$(section "$bare" .rdata)
imports=$(section "$bare" .idata)
resources=$(section "$bare" .rsrc)
padding=$((bare_bytes - code - rdata - imports - resources))

. "$(dirname "$0")/lib.sh"
r=$(ratio "$bare_bytes" "$stub_bytes" 3)
if [ "$bare_bytes" -le "$goal" ]; then
  verdict="met ($((goal - bare_bytes)) bytes to spare)"
else
  verdict="missed by $((bare_bytes - goal)) bytes"
fi

row "installer without payload and PIF, bytes (ref: $(basename "$stub"))" "$bare_bytes" "$stub_bytes" "$r" \
    "<= $goal bytes" "$verdict"
row "  of it: code (.text)" "$code" - - - -
row "  of it: constant data (.rdata)" "$rdata" - - - -
row "  of it: imports (.idata)" "$imports" - - - -
row "  of it: resources without payload (.rsrc)" "$resources" - - - -
row "  of it: headers, relocations, section alignment" "$padding" - - - -
row "whole installer with payload, bytes" "$whole_bytes" - - "(information)" -
patcher=$build/dist/patch.exe
patcher_bytes=$(stat -c %s "$patcher")
if [ "$patcher_bytes" -lt 16384 ]; then
  verdict="met ($((16384 - patcher_bytes)) bytes to spare)"
else
  verdict="missed by $((patcher_bytes - 16383)) bytes"
fi
row "patch.exe, bytes (code $(section "$patcher" .text), constant data $(section "$patcher" .rdata))" \
    "$patcher_bytes" - - "< 16384 bytes" "$verdict"
