#!/usr/bin/env python3
"""The store on a mount against `cp -r` followed by a sync of each file, and
`rsync --fsync --ignore-existing`, onto the same mount, interleaved in one run.
The mounts are those of tests/shared, each on this machine: a local disk,
GlusterFS (a volume replicated over two bricks), SMB through smbnetfs, CephFS
through ceph-fuse, NFS through gvfs.

Usage: shared_bench.py PROGRAM ROOT RUNS [MOUNT ...]   (GlusterFS unless named)

Two jobs: 2,000 files of 4 KiB and one file of 256 MiB. The sources lie on the
local disk in the store's own layout (two levels of directories from the uuid),
so that every command creates the same directories on the mount. Before each
run, untimed, the previous run's copies are removed. Prints medians, the
ratios program / peer, and where the program's time goes (strace -c -w).
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "shared"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from compare import measure, print_comparison  # noqa: E402
from jobs import stored_path, uuid_of, write_job  # noqa: E402
import servers  # noqa: E402


def prepare(data, name, files):
    """Sources below data/name in the store's layout, and the job storing them."""
    records = []
    for uuid, size in files:
        relative = stored_path("", uuid, 1)
        path = os.path.join(data, name, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            for offset in range(0, size, 1 << 20):
                file.write(os.urandom(min(1 << 20, size - offset)))
        records.append((uuid, relative))
    return os.path.join(data, name), records


def main():
    program, root, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    # Each run removes the last run's copies, but CephFS frees their room only when its metadata
    # server has purged them, later: 256 MiB from three tools, runs + 1 times, must fit meanwhile.
    servers.Ceph.memory = max(servers.Ceph.memory, 3 * (runs + 2) * (256 << 20))
    for kind in sys.argv[4:] or ["GlusterFS"]:
        home = os.path.join(root, kind)
        try:
            bench(program, home, runs, kind, servers.KINDS[kind](home).mounts[0])
        finally:
            servers.cleanup(home)


def bench(program, root, runs, kind, mount):
    data = os.path.join(root, "data")
    jobs = [("2,000 x 4 KiB", "small", [(uuid_of(n, spread=True), 4096) for n in range(2000)]),
            ("256 MiB", "large", [("5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80", 256 << 20)])]
    for title, name, files in jobs:
        source, records = prepare(data, name, files)
        job = os.path.join(data, name + ".job")
        store = os.path.join(mount, name + "-program")
        write_job(job, [("input_base_dir_path", source), *(("file", uuid, path, store, "1") for uuid, path in records)])
        targets = {peer: os.path.join(mount, f"{name}-{peer}") for peer in ("program", "cp", "rsync")}
        fresh = {peer: f"rm -rf {target} && mkdir {target}" for peer, target in targets.items()}
        commands = [("razadedezuzev", fresh["program"], f"{program} batch_copy_to_resource_store {job}"),
                    ("cp -r, then a sync of each file", fresh["cp"],
                     f"cp -r {source}/. {targets['cp']}/ && find {targets['cp']} -type f -exec sync {{}} +"),
                    ("rsync --fsync --ignore-existing", fresh["rsync"],
                     f"rsync -r --fsync --ignore-existing {source}/ {targets['rsync']}/")]
        medians, peaks = measure(runs, commands, stop_on_failure=True)
        print_comparison(f"{title} into a store on {kind}", runs, medians, peaks)
        for peer, setup, command in commands[:1]:  # the program, once more, traced
            subprocess.check_call(["bash", "-c", setup])
            trace = os.path.join(root, "calls")
            subprocess.check_call(["strace", "-f", "-c", "-w", "-o", trace, "bash", "-c", command],
                                  stdout=subprocess.DEVNULL)
            lines = open(trace).read().splitlines()
            print(f"  {peer}: wall time by system call (strace -c -w, under tracing):")
            print("\n".join("    " + line for line in lines[2:8]))
        sys.stdout.flush()


if __name__ == "__main__":
    try:
        main()
    except servers.Unavailable as reason:
        sys.exit(f"shared_bench: {reason}")
