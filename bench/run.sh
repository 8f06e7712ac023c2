#!/usr/bin/env bash
# The whole sample run on winsim beside plain copies of the same bytes, its
# parts, and the heap the installer's code takes. Rows on stdout.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(dirname "$0")
. "$here/lib.sh"

# Both sides write to the same file system; tmpfs when there is one, so that
# the disk's journal does not decide the figures.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wfbench.XXXXXX")
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  rm -rf "$scratch"
  scratch=$(mktemp -d /dev/shm/wfbench.XXXXXX)
fi
trap 'rm -rf "$scratch"' EXIT

echo "run: the sample run on winsim, 15 repetitions" >&2
out=$scratch/run.json
TMPDIR=$scratch "$build/bench/run_bench" --benchmark_repetitions=15 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json >/dev/null 2>&1

# run_bench reports milliseconds.
ms() { awk -v v="$1" 'BEGIN { printf "%.2f", v }'; }
floor=$(gbench_value "$out" BM_PlainCopyFloor/manual_time_median real_time)
bytes=$(gbench_value "$out" BM_PlainCopyFloor/manual_time_median bytes)
files=$(gbench_value "$out" BM_PlainCopyFloor/manual_time_median files)
for platform in 1 0; do
  name=$([ $platform = 1 ] && echo NT || echo "Windows 95")
  run=$(gbench_value "$out" "BM_WholeRun/nt:$platform/manual_time_median" real_time)
  r=$(ratio "$run" "$floor" 1)
  row "whole sample run on winsim, $name (ms)" "$(ms "$run")" \
      "$(ms "$floor") (plain copies, $(printf '%.0f' "$files") files, $(printf '%.0f' "$bytes") bytes)" "${r}x" "<= 1.5x" \
      "$(verdict "$r <= 1.5")"
done
extract=$(gbench_value "$out" BM_ExtractPayloads/manual_time_median real_time)
row "  of which: payload expansion, 14 entries (ms)" "$(ms "$extract")" "$(ms "$floor")" \
    "$(ratio "$extract" "$floor" 1)x" "-" "-"

# The patcher alone, as the run starts it: a separate process over the five
# staged files.
work=$scratch/patcher
mkdir -p "$work/src" "$work/dir"
installed="$build/sample/before/drive_c/Program Files/Quenmark/Wayfront"
for f in wayfront.exe wfcore.dll wfview.dll wfprint.dll wfnet.dll; do cp "$installed/$f" "$work/src/"; done
cp "$build/sample/patch.rtp" "$work/dir/"
echo "run: the patcher alone (hyperfine)" >&2
(cd "$work/dir" && hyperfine -N --warmup 3 --runs 40 \
  --prepare "$(quoted cp -f "$work/src/"{wayfront.exe,wfcore.dll,wfview.dll,wfprint.dll,wfnet.dll} "$work/dir/")" \
  --export-json "$work/h.json" "$(quoted "$build/delta/patch_twin" patch.rtp)" >/dev/null)
patcher=$(awk '/"median":/ { v = $0; sub(/.*: */, "", v); sub(/,$/, "", v); print v * 1e3; exit }' "$work/h.json")
row "  of which: the patcher's process, 5 files (ms)" "$(ms "$patcher")" "$(ms "$floor")" \
    "$(ratio "$patcher" "$floor" 1)x" "-" "-"

peak=$(gbench_value "$out" BM_RunHeap/iterations:1/manual_time_median peak_bytes)
allocations=$(gbench_value "$out" BM_RunHeap/iterations:1/manual_time_median allocations)
row "installer's heap at its peak, one run (bytes)" "$(printf '%.0f' "$peak") ($(printf '%.0f' "$allocations") blocks)" \
    "65536" "$(ratio "$peak" 65536)" "< 64 KiB" "$(verdict "$peak < 65536")"
