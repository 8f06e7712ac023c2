#!/usr/bin/env bash
# Our decoders beside `xdelta3 -d`, on the same deltas (made here with
# `xdelta3 -e -S none`), as whole programs timed by hyperfine:
#   (a) the sample's five file pairs, one process per file on each side:
#       patch_twin (the host build of patch.exe: it checks sizes and CRC-32s,
#       decodes, writes the file beside the old one, reads it back and
#       renames it) on one-entry patch data, against xdelta3 -d -s OLD DELTA OUT.
#       Files of tens of kilobytes: process start-up weighs most.
#   (b) a generated 48 MiB file and a new version made from it by edits:
#       decode_bench decode (the patcher's way: source and delta read at
#       offsets, the target written window by window through one 8 MiB
#       window and 128 KiB of read buffers) against xdelta3 -d, both writing
#       a file in the work folder. Both read the source from the page cache
#       and check each window's Adler-32.
#   (c) a generated 16 MiB pair the same way, our difference delta (the
#       patcher's other kind; its encoder takes seconds a megabyte, hence the
#       smaller pair) against xdelta3 -d on xdelta3's own delta, the same way.
# Every output is compared with the new file before anything is timed. The
# ratios are reference time / our time, from hyperfine's medians.
#   bench/decode.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: decode.sh BUILD_DIR}" && pwd)
tool=$build/bench/decode_bench
twin=$build/delta/patch_twin
pairs=$build/sample/pe
names=(wayfront.exe wfcore.dll wfview.dll wfprint.dll wfnet.dll)
for f in "$tool" "$twin"; do [ -x "$f" ] || { echo "decode: $f is not built" >&2; exit 1; }; done
if [ ! -d "$pairs/old" ] || [ ! -d "$pairs/new" ]; then
  echo "decode: no sample pairs in $pairs" >&2
  exit 1
fi

# Files in memory when they can be, for both sides alike: on a shared disk
# the patcher's file creations and renames wait on other people's writes.
base=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work=$(mktemp -d "$base/wf-decode-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work  # where winsim makes its scratch folder in patch_twin
mkdir -p "$work/deltas" "$work/twin" "$work/xdelta3"

# hyperfine's median of one command, in milliseconds, from its CSV export
# (command,mean,stddev,median,...).
median_ms() { awk -F, -v name="$2" '$1 == name { printf "%.1f", $4 * 1000 }' "$1"; }
. "$(dirname "$0")/lib.sh"

# ---- (a) the sample's deltas --------------------------------------------------
echo "decode: (a) the sample's five deltas" >&2
for f in "${names[@]}"; do
  xdelta3 -e -S none -f -s "$pairs/old/$f" "$pairs/new/$f" "$work/deltas/$f.vcdiff"
  "$tool" pack "$f" "$pairs/old/$f" "$pairs/new/$f" "$work/deltas/$f.vcdiff" "$work/twin/$f.rtp"
done
# The commands hyperfine runs through bash, each path quoted.
restore_old="cp $(quoted "${names[@]/#/$pairs/old/}" "$work/twin/")"
twin_run="cd $(quoted "$work/twin") && for f in ${names[*]}; do $(quoted "$twin") \$f.rtp >/dev/null; done"
xdelta3_run="for f in ${names[*]}; do xdelta3 -d -f -s $(quoted "$pairs/old")/\$f"
xdelta3_run+=" $(quoted "$work/deltas")/\$f.vcdiff $(quoted "$work/xdelta3")/\$f; done"
# Both sides once, checked.
bash -c "$restore_old" && bash -c "$twin_run" && bash -c "$xdelta3_run"
for f in "${names[@]}"; do
  cmp -s "$work/twin/$f" "$pairs/new/$f" || { echo "decode: patch_twin made a wrong $f" >&2; exit 1; }
  cmp -s "$work/xdelta3/$f" "$pairs/new/$f" || { echo "decode: xdelta3 made a wrong $f" >&2; exit 1; }
done
hyperfine --style basic --shell bash --warmup 3 --runs 40 --export-csv "$work/sample.csv" \
  --prepare "$restore_old" -n ours "$twin_run" \
  --prepare "rm -f $(quoted "$work/xdelta3")/*" -n xdelta3 "$xdelta3_run" >&2
ours=$(median_ms "$work/sample.csv" ours)
reference=$(median_ms "$work/sample.csv" xdelta3)
r=$(ratio "$reference" "$ours")
printf '%s\t%s\t%s\t%s\t%s\t%s\n' \
  "Decoding, sample's 5 deltas: patch_twin vs xdelta3 -d, whole programs, 1 process per file (all 5)" \
  "$ours ms" "$reference ms" "${r}x as fast" ">= 1x" "$(verdict "$r >= 1.0")"

# ---- (b) a large edited pair ----------------------------------------------------
echo "decode: (b) a 48 MiB pair" >&2
"$tool" make-pair 48 20240611 "$work/old.bin" "$work/new.bin"
xdelta3 -e -S none -f -s "$work/old.bin" "$work/new.bin" "$work/big.vcdiff"
"$tool" decode "$work/old.bin" "$work/big.vcdiff" "$work/ours.bin"
xdelta3 -d -f -s "$work/old.bin" "$work/big.vcdiff" "$work/xdelta3.bin"
cmp -s "$work/ours.bin" "$work/new.bin" || { echo "decode: decode_bench made a wrong file" >&2; exit 1; }
cmp -s "$work/xdelta3.bin" "$work/new.bin" || { echo "decode: xdelta3 made a wrong file" >&2; exit 1; }
rm -f "$work/ours.bin" "$work/xdelta3.bin"
hyperfine --style basic -N --warmup 2 --runs 20 --export-csv "$work/big.csv" \
  -n ours "$(quoted "$tool" decode "$work/old.bin" "$work/big.vcdiff" "$work/ours.bin")" \
  -n xdelta3 "$(quoted xdelta3 -d -f -s "$work/old.bin" "$work/big.vcdiff" "$work/xdelta3.bin")" >&2
rm -f "$work/ours.bin" "$work/xdelta3.bin"
ours=$(median_ms "$work/big.csv" ours)
reference=$(median_ms "$work/big.csv" xdelta3)
r=$(ratio "$reference" "$ours")
megabytes=$(stat -c %s "$work/new.bin")
mbs() { awk -v bytes="$megabytes" -v ms="$1" 'BEGIN { printf "%.0f", bytes / 1e6 / (ms / 1000) }'; }
printf '%s\t%s\t%s\t%s\t%s\t%s\n' \
  "Decoding, 48 MiB edited pair ($(du -h "$work/big.vcdiff" | cut -f1) delta): decode_bench (one 8 MiB window) vs xdelta3 -d, whole programs, file to file" \
  "$ours ms ($(mbs "$ours") MB/s)" "$reference ms ($(mbs "$reference") MB/s)" "${r}x as fast" ">= 1x" "$(verdict "$r >= 1.0")"

# ---- (c) the difference delta -------------------------------------------------
echo "decode: (c) a 16 MiB pair, the difference delta" >&2
"$tool" make-pair 16 20261208 "$work/old16.bin" "$work/new16.bin"
xdelta3 -e -S none -f -s "$work/old16.bin" "$work/new16.bin" "$work/16.vcdiff"
"$tool" difference "$work/old16.bin" "$work/new16.bin" "$work/16.diff"
"$tool" decode "$work/old16.bin" "$work/16.diff" "$work/ours.bin"
cmp -s "$work/ours.bin" "$work/new16.bin" || { echo "decode: decode_bench made a wrong file" >&2; exit 1; }
rm -f "$work/ours.bin"
hyperfine --style basic -N --warmup 2 --runs 20 --export-csv "$work/16.csv" \
  -n ours "$(quoted "$tool" decode "$work/old16.bin" "$work/16.diff" "$work/ours.bin")" \
  -n xdelta3 "$(quoted xdelta3 -d -f -s "$work/old16.bin" "$work/16.vcdiff" "$work/xdelta3.bin")" >&2
rm -f "$work/ours.bin" "$work/xdelta3.bin"
ours=$(median_ms "$work/16.csv" ours)
reference=$(median_ms "$work/16.csv" xdelta3)
r=$(ratio "$reference" "$ours")
megabytes=$(stat -c %s "$work/new16.bin")
printf '%s\t%s\t%s\t%s\t%s\t%s\n' \
  "Decoding, 16 MiB edited pair, difference delta ($(stat -c %s "$work/16.diff") bytes; xdelta3's $(stat -c %s "$work/16.vcdiff")): decode_bench (one 8 MiB window) vs xdelta3 -d, file to file" \
  "$ours ms ($(mbs "$ours") MB/s)" "$reference ms ($(mbs "$reference") MB/s)" "${r}x as fast" ">= 1x" "$(verdict "$r >= 1.0")"
