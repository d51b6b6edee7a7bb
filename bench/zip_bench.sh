#!/usr/bin/env bash
# The zip modes against unzip -q and 7z x (durable: followed by sync -f), 7z l
# and zipinfo, side by side. Usage: bench/zip_bench.sh [runs]   (archives go to
# bench/data/zip, git-ignored, or RAZADEDEZUZEV_BENCH_DATA; the first run spends
# a few minutes generating them).
# RAZADEDEZUZEV_PROGRAM names another build of the program.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
exec python3 bench/zip_bench.py "$program" "${RAZADEDEZUZEV_BENCH_DATA:-$PWD/bench/data/zip}" "$runs"
