#!/usr/bin/env bash
# The program on a store shared over the network (tests/shared/shared_test.py):
# installs what is missing, builds, and stops and unmounts everything that was
# started, also when a test fails or the run is interrupted.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh --no-install-recommends glusterfs-server glusterfs-client samba smbnetfs strace e2fsprogs \
  ceph-mon ceph-mgr ceph-osd ceph-mds ceph-fuse ceph-common nfs-ganesha nfs-ganesha-vfs rpcbind \
  gvfs-backends gvfs-fuse dbus iproute2
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -n "${RAZADEDEZUZEV_PROGRAM:-}" ] ||
  { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
root=$(mktemp -d /tmp/razadedezuzev-shared-XXXXXX)
trap 'python3 tests/shared/servers.py cleanup "$root"' EXIT
trap 'exit 130' INT TERM
python3 tests/shared/shared_test.py "$program" "$root" "$@"
