#!/usr/bin/env bash
# The store on a GlusterFS mount against cp + sync and rsync --fsync onto the
# same mount: 2,000 x 4 KiB and 256 MiB, interleaved, medians.
# Usage: bench/shared_bench.sh [runs]   (RAZADEDEZUZEV_PROGRAM names another build)
# Starts glusterd on 127.0.0.1 and a volume of two bricks below a scratch
# directory (about 1.5 GiB at peak), and stops and removes it all at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
scripts/setup.sh glusterfs-server glusterfs-client rsync strace time
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
root=$(mktemp -d /tmp/razadedezuzev-shared-bench-XXXXXX)
trap 'python3 tests/shared/servers.py cleanup "$root"' EXIT
trap 'exit 130' INT TERM
python3 bench/shared_bench.py "$program" "$root" "$runs"
