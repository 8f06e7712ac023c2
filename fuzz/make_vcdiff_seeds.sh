#!/usr/bin/env bash
# Writes the VCDIFF target's seeds with xdelta3: each is the source's length
# (two bytes, little-endian), the source, then the delta ("-S none", as the
# builder makes them). Run again only to change the seeds.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/vcdiff
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# seed NAME SOURCE-FILE|- TARGET-FILE [xdelta3 options]
seed() {
  local name=$1 source=$2 target=$3
  shift 3
  local size=0
  if [ "$source" = - ]; then
    xdelta3 -e -f -S none "$@" "$target" "$tmp/delta"
    : >"$tmp/src"
  else
    xdelta3 -e -f -S none "$@" -s "$source" "$target" "$tmp/delta"
    cp "$source" "$tmp/src"
    size=$(stat -c %s "$source")
  fi
  { printf '%b' "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"
    cat "$tmp/src" "$tmp/delta"; } >"$out/$name"
}

mkdir -p "$out"
for i in $(seq 1 40); do echo "line $i of the old Wayfront readme, version 95.0.b"; done >"$tmp/old"
sed -e 's/95.0.b/95.0.C/' -e '/line 7 /d' -e '20a an inserted line' "$tmp/old" >"$tmp/new"
seed text "$tmp/old" "$tmp/new"
seed text-bare "$tmp/old" "$tmp/new" -n -A
seed no-source - "$tmp/new"
: >"$tmp/empty"
seed empty-target "$tmp/old" "$tmp/empty"
seed same "$tmp/old" "$tmp/old"
head -c 3000 /dev/zero | tr '\0' 'a' >"$tmp/run"
seed run - "$tmp/run"
# Several windows, no source: a target above xdelta3's smallest window of
# 16 KiB, repetitive enough that the delta stays small.
for i in $(seq 1 1500); do echo "record $((i % 50)) of the shared list"; done >"$tmp/big"
seed windows - "$tmp/big" -W 16384
