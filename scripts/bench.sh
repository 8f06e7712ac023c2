#!/usr/bin/env bash
# Measures the installer beside the tools people would use instead, and
# prints one table. A release build without sanitizers in build-bench.
#
#   scripts/bench.sh [SECTION...]     (sections: the names of bench/*.sh)
#
# Each section script bench/NAME.sh is run with the build directory as its
# argument; it prints its rows as tab-separated fields:
#   figure  ours  reference  ratio  goal  verdict
# Timings are medians over several runs; a ratio comes from the same run
# as the two figures it relates.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh --bench

build='build-bench'
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWF_SANITIZE=OFF -DWF_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build.log" 2>&1 || { tail -40 "$build.log"; exit 1; }

sections=("$@")
if [ ${#sections[@]} -eq 0 ]; then
  for f in bench/*.sh; do
    case $(basename "$f" .sh) in
      lib | pe_debug_cc) ;;  # helpers of the sections, not sections
      *) sections+=("$(basename "$f" .sh)") ;;
    esac
  done
fi

rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
for s in "${sections[@]}"; do
  echo "== $s" >&2
  bash "bench/$s.sh" "$build" >>"$rows"
done

printf '\n'
{
  printf 'figure\tours\treference\tratio\tgoal\tverdict\n'
  cat "$rows"
} | column -t -s $'\t'
