#!/usr/bin/env bash
# Deltas of real program changes beyond the sample: our delta (what
# patchbuild would put in patch.rtp) beside xdelta3 -9 and bsdiff, per pair.
# The pairs are this project's own Windows programs, built from an older
# commit and from the tree at hand:
#   - as shipped (-Oz, stripped): the installer's code without payload
#     (wfpatch_bare.exe) and the patcher (patch.exe), tens of KB;
#   - the same programs with -O2 and their debug information
#     (bench/pe_debug_cc.sh), the larger pairs of a hundred KB and more.
# Debian's own i386 PE files (Wine's DLLs, mingw-w64's runtime) come in one
# version each here, so no second version of them can be had offline.
# The older commit is fixed so the figures can be made again; between it and
# today the installer's and the patcher's sources changed in thousands of
# lines (the commit journal and its undo, the stages' rework). Both sides
# link the resource scripts of BUILD-DIRECTORY/generated, so each pair
# differs by its code alone.
#
#   bench/delta_pairs.sh BUILD-DIRECTORY      (normally run by scripts/bench.sh)
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$build/bench/decode_bench
old_commit=f36e4c1  # "Build the installer a second time without its payload, and report its size"

work=$(mktemp -d)
cleanup() {
  git -C "$root" worktree remove --force "$work/old-tree" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
git -C "$root" worktree add --detach "$work/old-tree" "$old_commit" >/dev/null 2>&1

# pe TREE OUT [LAUNCHER]: the PE build of TREE's patcher and installer in OUT.
pe() {
  local launcher=()
  [ $# -gt 2 ] && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$3" -DCMAKE_CXX_LINKER_LAUNCHER="$3")
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DWF_DIST_DIR="$2/dist" -DWF_GENERATED_DIR="$build/generated" \
    "${launcher[@]}" >"$2.log" 2>&1
  cmake --build "$2" --target patch wfpatch_bare >>"$2.log" 2>&1 || { tail -20 "$2.log" >&2; exit 1; }
}
for side in old new; do
  tree=$root
  [ $side = old ] && tree=$work/old-tree
  pe "$tree" "$work/$side"
  pe "$tree" "$work/$side-debug" "$root/bench/pe_debug_cc.sh"
done

. "$(dirname "$0")/lib.sh"
size() { stat -c %s "$1"; }
# measure NAME OLD NEW GOAL-RATIO-TO-BSDIFF|-
measure() {
  local kind ours x9 bsd
  kind=$("$tool" delta "$2" "$3" "$work/ours.out")
  xdelta3 -e -9 -f -s "$2" "$3" "$work/x9.out"
  bsdiff "$2" "$3" "$work/bsdiff.out"
  ours=$(size "$work/ours.out") x9=$(size "$work/x9.out") bsd=$(size "$work/bsdiff.out")
  echo "delta_pairs: $1 ($(size "$2") -> $(size "$3") bytes): ours $ours ($kind), xdelta3 -9 $x9, bsdiff $bsd" >&2
  local goal=- met=-
  if [ "$4" != - ]; then
    goal="<= $4 bsdiff"
    met=$(verdict "$ours <= $4 * $bsd")
  fi
  row "delta: $1 vs bsdiff (bytes)" "$ours" "$bsd" "$(ratio "$ours" "$bsd")" "$goal" "$met"
  row "delta: $1 vs xdelta3 -9 (bytes)" "$ours" "$x9" "$(ratio "$ours" "$x9")" "-" "-"
}
measure "patch.exe" "$work/old/dist/patch.exe" "$work/new/dist/patch.exe" -
measure "wfpatch_bare.exe" "$work/old/wfpatch_bare.exe" "$work/new/wfpatch_bare.exe" -
measure "patch.exe -O2 -g" "$work/old-debug/dist/patch.exe" "$work/new-debug/dist/patch.exe" 1.1
measure "wfpatch_bare.exe -O2 -g" "$work/old-debug/wfpatch_bare.exe" "$work/new-debug/wfpatch_bare.exe" 1.1
