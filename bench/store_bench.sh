#!/usr/bin/env bash
# The resource store modes against peers that also wait for the disk
# (rsync --fsync, cp -r && sync -f, md5sum && cp && sync -f) and, syncing off,
# against the plain ones (openssl md5, cp, cp -r) and a Python peer, side by
# side. Usage: bench/store_bench.sh [runs]
# Data (a 1 GiB file, 20,000 small files, about 2.2 GiB at peak) goes to
# bench/data/store, which is git-ignored; set RAZADEDEZUZEV_BENCH_DATA to put
# it elsewhere. RAZADEDEZUZEV_PROGRAM names another build of the program.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
scripts/setup.sh rsync openssl time
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
exec python3 bench/store_bench.py "$program" "${RAZADEDEZUZEV_BENCH_DATA:-$PWD/bench/data/store}" "$runs"
