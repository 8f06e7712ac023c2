#!/usr/bin/env bash
# Writes the difference delta target's seeds: each is the old file's length
# (two bytes, little-endian), the old file, then a new version of it, which
# the target encodes and decodes back, and also reads as a delta (the range
# decoder takes any bytes, so the mutator reaches deep from these). Run
# again only to change the seeds.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/diff_delta
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# seed NAME OLD-FILE NEW-FILE
seed() {
  local size
  size=$(stat -c %s "$2")
  { printf '%b' "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"
    cat "$2" "$3"; } >"$out/$1"
}

mkdir -p "$out"
for i in $(seq 1 40); do echo "line $i of the old Wayfront readme, version 95.0.b"; done >"$tmp/old"
sed -e 's/95.0.b/95.0.C/' -e '/line 7 /d' -e '20a an inserted line' "$tmp/old" >"$tmp/new"
seed text "$tmp/old" "$tmp/new"
: >"$tmp/empty"
seed empty-new "$tmp/old" "$tmp/empty"
seed no-old "$tmp/empty" "$tmp/new"
seed same "$tmp/old" "$tmp/old"
# Numbers that all grew by the same amount, as a relinked program's addresses.
for i in $(seq 1 200); do printf 'call %08x\n' $((0x401000 + i * 48)); done >"$tmp/calls-old"
for i in $(seq 1 200); do printf 'call %08x\n' $((0x401010 + i * 48)); done >"$tmp/calls-new"
seed moved "$tmp/calls-old" "$tmp/calls-new"
printf '\xe8\xe8\xe8\xe8\xe8\xe9' >"$tmp/e8"
seed calls-at-end "$tmp/e8" "$tmp/e8"
