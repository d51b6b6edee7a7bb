#!/usr/bin/env bash
# Small jobs as servers send them (one record, many servers at once, a batch
# of small files), each against a careful script that syncs what it wrote,
# on an idle file system and beside a writer that keeps dirtying it.
# Usage: bench/small_jobs_bench.sh [runs]
# The data goes to a freshly made ext4 of its own (an 8 GiB sparse loop
# image in bench/data, mounted for the run and unmounted after it, which
# needs root); RAZADEDEZUZEV_BENCH_DATA names a directory to use instead.
# RAZADEDEZUZEV_PROGRAM names another build of the program.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
scripts/setup.sh unzip e2fsprogs
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
data="${RAZADEDEZUZEV_BENCH_DATA:-}"
if [ -z "$data" ]; then
  image="$PWD/bench/data/small_jobs.ext4" data="$PWD/bench/data/small_jobs"
  mkdir -p "$data"
  rm -f "$image"
  truncate -s 8G "$image"
  mkfs.ext4 -q -F -N 2000000 "$image"
  mount -o loop "$image" "$data"
  trap 'umount "$data"; rm -f "$image"' EXIT
fi
python3 bench/small_jobs_bench.py "$program" "$data" "$runs"
