#!/usr/bin/env bash
# FileChecksum beside the plain byte loop: bench/checksum_bench.cpp prints
# the row from the medians of five repetitions.
#   bench/checksum.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: checksum.sh BUILD_DIR}
echo "checksum: FileChecksum and the byte loop on 64 MiB, 5 repetitions" >&2
"$build/bench/checksum_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
