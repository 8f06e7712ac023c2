#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, ASan, UBSan) in build/fuzz and
# runs each for SECONDS (default 60), one after the other.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Each target starts from its seeds in fuzz/corpus/<target> (read only) and
# what earlier runs found in build/fuzz/work/<target>, where new inputs go.
# Prints the executions of each target; exits nonzero when any target
# crashed, failed a check or timed out, with the input left in
# build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
all=(patch_data vcdiff diff_delta parse_count compare_versions version_info regtext description)
targets=("${all[@]}")
[ $# -gt 0 ] && targets=("$@")

build=build/fuzz
bin=$build/cmake
if [ ! -f "$bin/build.ninja" ]; then
  cmake -S fuzz -B "$bin" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$bin" -j"$(nproc)" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

mkdir -p "$build/crashes" "$build/logs"
# winsim's machines (the version reading writes its input as a file) live here.
# In memory when it can be: the version target writes a file per input.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm/wf_fuzz.$$
else
  export TMPDIR=$PWD/$build/tmp
fi
mkdir -p "$TMPDIR"

failed=()
for t in "${targets[@]}"; do
  [ -x "$bin/$t" ] || { echo "no fuzz target $t" >&2; exit 2; }
  work=$build/work/$t
  mkdir -p "$work"
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  log=$build/logs/$t.log
  status=0
  "$bin/$t" "$work" "fuzz/corpus/$t" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  printf '%-17s %10s executions in %ss' "$t" "${execs:-?}" "$seconds"
  if [ "$status" -ne 0 ]; then
    printf ' FAILED (exit %d, see %s)\n' "$status" "$log"
    grep -m1 -E 'ERROR: |check failed|runtime error|Test unit written' "$log" || true
    failed+=("$t")
  else
    printf '\n'
  fi
done
rm -rf "$TMPDIR"

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}; inputs in $build/crashes/" >&2
  exit 1
fi
