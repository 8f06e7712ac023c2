#!/usr/bin/env bash
# Static analysis: shellcheck over every shell script of the tree; then of
# the installer (src/) and the patcher (delta/, with the CRC-32 it takes
# from formats/), cppcheck over every source file and clang-tidy twice, on
# the host build's compile commands (winsim's declarations) and on the
# Windows build's (mingw-w64's <windows.h>, i686). Fails on any finding.
# Needs a finished build:
#
#   scripts/lint.sh [build directory, default build]
#
# What is checked and what is left out, with the reasons: .clang-tidy,
# .cppcheck-suppressions and .shellcheckrc at the top of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# The two analysers come with scripts/deps.sh.
for tool in shellcheck cppcheck clang-tidy; do
  command -v "$tool" >/dev/null || { echo "lint: $tool is missing; run scripts/deps.sh as root." >&2; exit 1; }
done

host_db=$build/compile_commands.json
win_db=$build/win/compile_commands.json
for db in "$host_db" "$win_db"; do
  if [ ! -f "$db" ]; then
    echo "lint: $db is missing; build first (cmake --build $build)." >&2
    exit 1
  fi
done

mapfile -t sources < <({ find src delta -name '*.cpp'; echo formats/crc32.cpp; } | sort)
jobs=$(nproc)
status=0

# Every script: the .sh files and the CI entry point. Sourced files are
# followed (.shellcheckrc), so a function's use is checked against its
# definition.
mapfile -t scripts < <(find scripts bench tests fuzz -name '*.sh' | sort)
scripts+=(.ci/run)
echo "lint: shellcheck on ${#scripts[@]} scripts"
if ! shellcheck -x "${scripts[@]}"; then
  echo "lint: shellcheck found problems" >&2
  status=1
fi

echo "lint: cppcheck on ${#sources[@]} files"
# Every preprocessor configuration is checked, the Windows one (_WIN32) with
# cppcheck's own knowledge of the Win32 calls, buffer sizes included.
if ! cppcheck --quiet --error-exitcode=1 \
    --std=c++17 --language=c++ \
    --enable=warning,style,performance,portability,information --inconclusive \
    --library=windows -I . -I src -I delta -I winsim \
    --inline-suppr --suppressions-list=.cppcheck-suppressions \
    --template='{file}:{line}: {severity}: {message} [{id}]' \
    "${sources[@]}"; then
  echo "lint: cppcheck found problems" >&2
  status=1
fi

# The files a compile-commands file names, among ours.
files_in() {
  local f
  for f in "${sources[@]}"; do
    if grep -qF "\"file\": \"$PWD/$f\"" "$1"; then echo "$f"; fi
  done
}

# clang-tidy prints its "N warnings generated" counts (of system headers,
# not shown) on stderr; what it finds goes to stdout.
tidy() {
  local label=$1 db_dir=$2
  shift 2
  mapfile -t files < <(files_in "$db_dir/compile_commands.json")
  echo "lint: clang-tidy ($label) on ${#files[@]} files"
  if ! printf '%s\n' "${files[@]}" |
      xargs -P"$jobs" -n4 clang-tidy --quiet -p "$db_dir" "$@" 2>/dev/null; then
    echo "lint: clang-tidy ($label) found problems" >&2
    status=1
  fi
}

tidy host "$build"

# The Windows build is compiled by GCC; clang does not know some of its
# flags, all of them about code generation.
win_dir=$(mktemp -d)
trap 'rm -rf "$win_dir"' EXIT
sed -e 's/ -fno-tree-loop-distribute-patterns//g' -e 's/ -mno-accumulate-outgoing-args//g' \
    -e 's/ -maccumulate-outgoing-args//g' -e 's/ -mpreferred-stack-boundary=[0-9]*//g' \
    -e 's/ -fno-inline-functions-called-once//g' -e 's/ -mno-stack-arg-probe//g' \
    -e 's/ -mstack-arg-probe//g' -e 's/ -Wframe-larger-than=[0-9]*//g' \
    "$win_db" >"$win_dir/compile_commands.json"
tidy windows "$win_dir" --extra-arg=--target=i686-w64-mingw32

if [ $status -eq 0 ]; then echo "lint: no findings"; fi
exit $status
