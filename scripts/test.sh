#!/usr/bin/env bash
# Builds everything from scratch and runs every test: the host tests (under
# AddressSanitizer and UBSan), the checks on the Windows build, and the
# end-to-end runs of the PE under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

rm -rf build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug
cmake --build build -j"$(nproc)"
scripts/lint.sh build
ctest --test-dir build --output-on-failure -j"$(nproc)"
# A few seconds of every fuzz target (its own clang build, in build/fuzz);
# a crash or a failed check fails the run, its input kept in build/fuzz/crashes/.
scripts/fuzz.sh 4
