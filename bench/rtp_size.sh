#!/usr/bin/env bash
# patch.rtp's size: the deltas patchbuild writes for the sample's patched
# programs, beside what xdelta3 -9 (its default secondary compression) and
# bsdiff make of the same pairs, all made in this run; and xdelta3 -9 -S none
# (the smallest plain VCDIFF xdelta3 writes, which our patcher could read)
# for reference.
#
#   bench/rtp_size.sh BUILD-DIRECTORY      (normally run by scripts/bench.sh)
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
sample=$build/sample
patchbuild=$build/tools/patchbuild

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$patchbuild" patch-data "$root/sample/wayfront.patch" --before "$sample/before" \
  --new "$sample/pe/new" -o "$work/ours.rtp"

# Little-endian integers of patch.rtp (layout: delta/patch_data.md).
le() {  # FILE OFFSET BYTES
  od -An -t "u$3" -j "$2" -N "$3" --endian=little "$1" | tr -d ' '
}

# The entries of our patch.rtp: each file's name and delta size. The pairs
# measured below are the same files, checked by the old size the entry
# records.
rtp=$work/ours.rtp
count=$(le "$rtp" 6 2)
at=12
names=()
deltas=()
ours=0
for ((i = 0; i < count; i++)); do
  delta=$(le "$rtp" $((at + 16)) 4)
  length=$(le "$rtp" $((at + 20)) 2)
  name=$(dd if="$rtp" bs=1 skip=$((at + 24)) count="$length" status=none)
  names+=("$name")
  if [ "$(stat -c %s "$sample/pe/old/$name")" != "$(le "$rtp" "$at" 4)" ]; then
    echo "rtp_size: $name in pe/old is not the installed file patch.rtp was made from" >&2
    exit 1
  fi
  deltas+=("$delta")
  ours=$((ours + delta))
  at=$((at + 24 + length + delta))
done

# The same pairs through the other tools, run from a folder holding old/
# and new/ so that xdelta3's header names the files alike every time.
ln -s "$sample/pe/old" "$work/old"
ln -s "$sample/pe/new" "$work/new"
size() { stat -c %s "$1"; }
x9=0 x9plain=0 bsd=0
for ((i = 0; i < count; i++)); do
  n=${names[$i]}
  (cd "$work" && xdelta3 -e -9 -f -s "old/$n" "new/$n" x9.out &&
    xdelta3 -e -9 -S none -f -s "old/$n" "new/$n" x9plain.out &&
    bsdiff "old/$n" "new/$n" bsdiff.out)
  a=$(size "$work/x9.out") b=$(size "$work/x9plain.out") c=$(size "$work/bsdiff.out")
  x9=$((x9 + a)) x9plain=$((x9plain + b)) bsd=$((bsd + c))
  echo "rtp_size: $n: ours ${deltas[$i]}, xdelta3 -9 $a, xdelta3 -9 -S none $b, bsdiff $c" >&2
done

. "$(dirname "$0")/lib.sh"
# FIGURE OURS REFERENCE GOAL VERDICT, the ratio ours / reference between.
sized_row() { row "$1" "$2" "$3" "$(ratio "$2" "$3")" "$4" "$5"; }

met=$(verdict "$ours <= $bsd")
sized_row "rtp: $count deltas vs bsdiff (bytes)" "$ours" "$bsd" "<= bsdiff" "$met"
sized_row "rtp: $count deltas vs xdelta3 -9 (bytes)" "$ours" "$x9" "-" "-"
sized_row "rtp: $count deltas vs xdelta3 -9 -S none (bytes)" "$ours" "$x9plain" "-" "-"
