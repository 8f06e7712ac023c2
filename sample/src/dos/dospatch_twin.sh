#!/bin/sh
# dospatch.exe's host twin, for runs on winsim: the same replacement in the
# current directory (the patch directory's host folder). The log at the
# drive's root is left out: no state the tests compare holds it.
set -eu
status=0
while read -r name; do
    name=$(printf '%s' "$name" | tr -d '\r')
    [ -n "$name" ] || continue
    cp -- "${name%.*}.new" "$name" || status=1
done < patch.lst
exit $status
