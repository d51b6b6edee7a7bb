#!/usr/bin/env bash
# The program on a store shared over the network: the same cases over a local
# disk, GlusterFS, Samba through smbnetfs, CephFS through ceph-fuse and NFS
# through gvfs, each mounted twice, all on loopback. Installs what is missing,
# starts the servers, runs tests/shared/shared_test.py, and stops and unmounts
# everything it started, also when a test fails or the run is interrupted. A
# server that cannot start here has its cases skipped with one line saying why.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh --no-install-recommends glusterfs-server glusterfs-client samba smbnetfs strace e2fsprogs \
  ceph-mon ceph-mgr ceph-osd ceph-mds ceph-fuse ceph-common nfs-ganesha nfs-ganesha-vfs rpcbind \
  gvfs-backends gvfs-fuse dbus iproute2
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
if [ -z "${RAZADEDEZUZEV_PROGRAM:-}" ]; then
  cmake -S . -B build >/dev/null
  cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null
fi
root=$(mktemp -d /tmp/razadedezuzev-shared-XXXXXX)
trap 'python3 tests/shared/servers.py cleanup "$root"' EXIT
trap 'exit 130' INT TERM
python3 tests/shared/shared_test.py "$program" "$root" "$@"
