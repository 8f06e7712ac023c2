#!/usr/bin/env bash
# The payload's size: the files the build packed in the SZDD format (the
# sample's payload, generated/payload/, named by generated/payload.rc),
# beside what mscompress (Debian's mscompress package, a writer of the same
# format) makes of the same files in this run. patch.rtp, stored plain, is
# in neither sum.
#
#   bench/payload_size.sh BUILD-DIRECTORY      (normally run by scripts/bench.sh)
set -euo pipefail
build=$(cd "$1" && pwd)
rc=$build/generated/payload.rc
[ -f "$rc" ] || { echo "payload_size: $rc is missing; build $build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A line of payload.rc for an SZDD entry:
#   101 RCDATA "STORED"  // EXPANDED, SZDD, from SOURCE
ours=0 theirs=0 files=0
while IFS= read -r line; do
  stored=${line#*RCDATA \"}
  stored=${stored%%\"*}
  source=${line##*, SZDD, from }
  rm -rf "$work/in" && mkdir "$work/in"
  cp "$source" "$work/in/file"
  (cd "$work/in" && mscompress file)
  packed=$(find "$work/in" -type f ! -name file)
  [ -n "$packed" ] || { echo "payload_size: mscompress wrote nothing for $source" >&2; exit 1; }
  a=$(stat -c %s "$stored") b=$(stat -c %s "$packed")
  echo "payload_size: $(basename "$source"): ours $a, mscompress $b" >&2
  ours=$((ours + a)) theirs=$((theirs + b)) files=$((files + 1))
done < <(grep ', SZDD, from ' "$rc")
[ "$files" -gt 0 ] || { echo "payload_size: no SZDD entry in $rc" >&2; exit 1; }

. "$(dirname "$0")/lib.sh"
r=$(ratio "$ours" "$theirs" 3)
row "payload: $files SZDD files vs mscompress (bytes)" "$ours" "$theirs" "$r" "<= 0.95" "$(verdict "$r <= 0.95")"
