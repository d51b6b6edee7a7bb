#!/usr/bin/env bash
# The store on each shared mount against cp -r + a sync of each file and
# rsync --fsync onto the same mount: 2,000 x 4 KiB and 256 MiB, interleaved, medians.
# Usage: bench/shared_bench.sh [runs [MOUNT ...]]   (local GlusterFS SMB CephFS NFS;
# GlusterFS unless named; RAZADEDEZUZEV_PROGRAM names another build). Starts the
# servers of tests/shared on loopback below a scratch directory (about 1.5 GiB at
# peak), and stops and removes it all at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
scripts/setup.sh --no-install-recommends glusterfs-server glusterfs-client samba smbnetfs ceph-mon ceph-mgr ceph-osd \
  ceph-mds ceph-fuse ceph-common nfs-ganesha nfs-ganesha-vfs rpcbind gvfs-backends gvfs-fuse dbus iproute2 rsync strace time
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
root=$(mktemp -d /tmp/razadedezuzev-shared-bench-XXXXXX)
trap 'python3 tests/shared/servers.py cleanup "$root"' EXIT
trap 'exit 130' INT TERM
python3 bench/shared_bench.py "$program" "$root" "$runs" "${@:2}"
