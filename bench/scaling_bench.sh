#!/usr/bin/env bash
# Cost per record as the job grows (10 to 1,000,000 records), for
# test_file_existence and batch_copy_to_resource_store.
# Usage: bench/scaling_bench.sh [runs]   (data, about 1.2 GB and a million
# stored files at peak, goes to bench/data/scaling, git-ignored, or
# RAZADEDEZUZEV_BENCH_DATA: give it a fresh file system with inodes to spare,
# docs/performance.md says how).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
scripts/setup.sh time
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
exec python3 bench/scaling_bench.py "$program" "${RAZADEDEZUZEV_BENCH_DATA:-$PWD/bench/data/scaling}" "$runs"
