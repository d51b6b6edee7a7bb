#!/usr/bin/python3
"""The program on a store shared over the network: the same CASES over every kind of
mount (KINDS), each server on loopback, each store mounted twice (two machines);
what the servers hold is also read behind the mounts, where no cache hides anything.
Run by run.sh (which builds and cleans up): shared_test.py PROGRAM ROOT [KIND ...]"""
import glob
import hashlib
import os
import pathlib
import random
import shutil
import signal
import sys
import time
import types
import zipfile

import servers

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jobs  # noqa: E402

PROGRAM, ROOT = sys.argv[1], sys.argv[2]
TEMPORARY = ".razadedezuzev-"
STALL = 15  # seconds without a returning call before a run is given up (NUV_RAZADEDEZUZEV_STALL_SECONDS)
RUN_LIMIT = 180  # seconds: no run may take longer, on any fault
tally = {"passed": 0, "failed": 0, "skipped": 0}
MODES = ["batch_copy_to_resource_store", "batch_copy_to_resource_store_from_multiple_directories",
         "batch_copy_from_resource_store", "extract_from_zip", "extract_from_zip_to_resource_store"]


def read(path):
    return pathlib.Path(path).read_bytes()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pathlib.Path(path).write_bytes(data)


def files(*roots):
    """Every file below the roots (the bricks' own .glusterfs skipped)."""
    return [os.path.join(d, n) for root in roots for d, _, names in os.walk(root) if ".glusterfs" not in d for n in names]


def tree(root):
    return {os.path.relpath(path, root): read(path) for path in files(root)}


def temporaries(*roots):
    return [f"temporary file left: {path}" for path in files(*roots) if TEMPORARY in path]


def timed(what, action):
    started = time.monotonic()
    try:
        return action()
    finally:
        print(f"     {what}: {time.monotonic() - started:.1f} s", flush=True)


class Sources:
    """Items (uuid, name, random bytes) of the names and sizes, as in/NAME, dirs/N/NAME, archive.zip."""

    def __init__(self, sizes, seed):
        self.directory, generator = os.path.join(ROOT, f"sources-{seed}"), random.Random(seed)
        digests = [hashlib.md5(f"{seed}/{n}".encode()).hexdigest() for n in range(len(sizes))]
        self.items = [(f"{d[:8]}-{d[8:12]}-4{d[13:16]}-8{d[17:20]}-{d[20:32]}", name, generator.randbytes(size))
                      for d, (name, size) in zip(digests, sizes)]
        self.archive = os.path.join(self.directory, "archive.zip")
        if not os.path.exists(self.archive):  # else made for an earlier kind of mount
            os.makedirs(self.directory, exist_ok=True)
            with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as archive:
                for n, (_, name, data) in enumerate(self.items):
                    write(os.path.join(self.directory, "in", name), data)
                    write(os.path.join(self.directory, "dirs", str(n), name), data)
                    archive.writestr(name, data)

    def job(self, mode, store, out, order=None):
        inputs, archive, output = ("input_base_dir_path", os.path.join(self.directory, "in")), \
            ("zip_file_path", self.archive), ("output_base_dir_path", out)
        lines = [[inputs], [], [output], [archive, output], [archive]][MODES.index(mode)]
        for n in order or range(len(self.items)):
            uuid, name, _ = self.items[n]
            lines.append([("file", uuid, name, store, "1"),
                          ("file", uuid, os.path.join(self.directory, "dirs", str(n)), name, store, "1"),
                          ("file", uuid, name, store, "1"), ("file", uuid, name, name),
                          ("file", uuid, name, name, store, "1")][MODES.index(mode)])
        return lines


def stored(store, uuid):
    return os.path.join(store, uuid[0:2], uuid[2:4], uuid)


def destination(mode, item, store, out):
    return os.path.join(out, item[1]) if mode in MODES[2:4] else stored(store, item[0])


def run_job(name, mode, lines, prefix=(), wait=True):
    """Runs a job from a local directory: (exit code, .out, .err), or the process when not waiting."""
    job = jobs.write_job(os.path.join(ROOT, "jobs", name, "job"), lines)
    env = dict(os.environ, NUV_RAZADEDEZUZEV_STALL_SECONDS=str(STALL))
    process = jobs.start(PROGRAM, mode, job, prefix=("timeout", "-s", "KILL", str(RUN_LIMIT), *prefix), env=env)
    return process if wait is False else jobs.outcome(process)


# --- the cases: each takes a Store (below) and returns its problems; then the kinds of mount

def writing_modes(store):
    """Every writing mode: the same results and files as on a local disk."""
    sources = Sources([("empty", 0), ("one", 1), ("page", 4096), ("sub/mid", (1 << 20) + 3),
                       ("sub/deep/big", (3 << 20) + 1)], seed=1)
    problems = []
    for mode in MODES:
        results = {}
        for place, top in (("local", os.path.join(ROOT, "local-modes")), ("shared", store.mounts[0])):
            base = os.path.join(top, "modes", store.kind, mode)
            target, out = os.path.join(base, "store"), os.path.join(base, "out")
            for uuid, _, data in sources.items * (mode == MODES[2]):
                write(stored(target, uuid), data)
            existing = destination(mode, sources.items[2], target, out)
            # Its bytes tell an overwrite (no source holds them); its time cannot:
            # a FUSE mount may pass the close of our writing on after a later utime.
            write(existing, b"stored before")
            code, out_text, err = run_job(f"modes-{store.kind}-{place}-{mode}", mode, sources.job(mode, target, out))
            results[place] = (code, out_text, tree(base))
            if read(existing) != b"stored before" or code != 0:
                problems.append(f"{mode}: {place}: exit code {code}, the existing file changed? {err.strip()}")
        if results["local"] != results["shared"]:
            differing = set(results["local"][2].items()) ^ set(results["shared"][2].items())
            problems.append(f"{mode}: results or files differ from the local run's: {sorted(p for p, _ in differing)}")
    return problems + temporaries(store.mounts[0], *store.behind)


def many_processes(store, processes=16, count=200):
    """16 processes through both mounts storing and extracting the same 200
    uuids: one whole file each, every digest right, no temporary left."""
    sources = Sources([(f"f{n:03d}", (n * 997) % 24000) for n in range(count)], seed=2)
    running = []
    for k in range(processes):
        order, mode = list(range(count)), MODES[0] if k % 4 < 2 else MODES[4]
        random.Random(k).shuffle(order)
        target = os.path.join(store.mounts[k % 2], "many")
        running.append(run_job(f"many-{store.kind}-{k}", mode, sources.job(mode, target, None, order), wait=False))
    problems, expected = [], {stored("", uuid): data for uuid, _, data in sources.items}
    for k, process in enumerate(running):
        code, out, err = jobs.outcome(process)
        problems += [f"process {k}: exit code {code}: {err.strip()[:200]}"] if code else []
        for line in out.splitlines():
            data = expected.get(stored("", line.split("\t")[1]))
            if data is None or line.split("\t")[2:] != [str(len(data)), hashlib.md5(data).hexdigest()]:
                problems.append(f"process {k} reported {line!r}, not what is stored")
    def wrong(root):
        found = tree(root)
        return sorted(p for p in set(found) | set(expected) if found.get(p) != expected.get(p))
    problems += [f"{m}: {len(wrong(m))} files missing, extra or not whole"
                 for m in [os.path.join(r, "many") for r in store.mounts] if wrong(m)]
    if store.heal:  # a replica that missed writes (two clients made one directory) is healed first
        store.heal()
    for root in [os.path.join(r, "many") for r in store.behind]:
        try:
            servers.wait_for(lambda: not wrong(root), "the server's copies to agree", 30)
        except servers.Unavailable:
            problems.append(f"{root}: {len(wrong(root))} files missing, extra or not whole: {wrong(root)[:3]}")
    return problems + temporaries(store.mounts[0], *store.behind)


def out_of_space(store):
    """Every writing mode into a full store: the record fails with the
    system's text, nothing of it is published, exit 2, no temporary left."""
    sources = Sources([("a", 4096), ("b", 40 << 20), ("c", 4096)], seed=3)
    local_store, items, problems = os.path.join(ROOT, "full-local-store"), sources.items, []
    for uuid, _, data in items:
        write(stored(local_store, uuid), data)
    for mode in MODES:
        base = os.path.join(store.full, mode)
        target, out = local_store if mode == MODES[2] else os.path.join(base, "store"), os.path.join(base, "out")
        code, out_text, err = run_job(f"full-{store.kind}-{mode}", mode, sources.job(mode, target, out))
        # The first record is copied beside the second, so the full disk may
        # fail it too: then it is neither reported nor published.
        first_failed = destination(mode, items[0], target, out) in err
        if code != 2 or out_text not in ("", f"file\t{items[0][0]}\t4096\t{hashlib.md5(items[0][2]).hexdigest()}\n" * (mode != MODES[2])):
            problems.append(f"{mode}: exit code {code}, result lines {out_text!r}")
        if not any(text in err for text in store.full_texts):
            problems.append(f"{mode}: no system text of a full disk in {err!r}")
        for item, whole in zip(items, (not first_failed, False, False)):
            path = destination(mode, item, target, out)
            if os.path.exists(path) != whole or (whole and read(path) != item[2]):
                problems.append(f"{mode}: {item[1]}: {'missing or not whole' if whole else 'published'}")
        problems += temporaries(base, *store.full_behind)
        shutil.rmtree(base, ignore_errors=True)
    return problems


def server_stops(store, files=24, size=2 << 20):
    """The server stops answering mid-job: the caller is answered (exit 2 and a
    message) within the stall time, nothing partial has a final name; once the
    server is back, a rerun completes the job and leaves no temporary."""
    sources = Sources([(f"g{n:02d}", size) for n in range(files)], seed=4)
    target = os.path.join(store.mounts[1], "stops")
    lines = sources.job(MODES[0], target, None)
    process = run_job(f"stop-{store.kind}", MODES[0], lines, wait=False)
    servers.wait_for(lambda: temporaries(target) or process.poll() is not None, "a copy under way", 60)
    stopped = time.monotonic()
    timed("server stopped", store.stop)
    code, out, err = jobs.outcome(process)
    took = time.monotonic() - stopped
    print(f"     answered {took:.1f} s after the stop: exit {code}: {err.strip().splitlines()[:1]}")
    problems = [] if code == 2 and err.strip() and took < STALL + 5 else [f"exit code {code} after {took:.0f} s: {err}"]
    timed("server back", lambda: (store.restart(), servers.wait_for(lambda: os.path.isdir(target), "the mount", 60)))
    reported = {line.split("\t")[1] for line in out.splitlines()}
    for uuid, _, data in sources.items:
        path = stored(target, uuid)
        if (os.path.exists(path) and read(path) != data) or (uuid in reported and not os.path.exists(path)):
            problems.append(f"{uuid}: not whole under its final name, or reported and missing")
    servers.wait_for(lambda: worker_gone(err), "the worker given up to end", 60)
    code, out, err = run_job(f"stop-{store.kind}-again", MODES[0], lines)
    if (code, len(out.splitlines())) != (0, files):
        problems.append(f"rerun: exit code {code}, {len(out.splitlines())} lines: {err.strip()[:300]}")
    return problems + temporaries(target)


def worker_gone(err):
    """Whether the worker a given-up run names has ended (its temporaries are a live process's till then)."""
    pid = err.split("worker process ")[1].split()[0] if "worker process " in err else None
    return not pid or all(open(t).read().rsplit(")", 1)[-1].split()[0] == "Z" for t in glob.glob(f"/proc/{pid}/task/*/stat"))


def publication_road(store):
    """Traces a small job into the store: the calls that publish a file."""
    sources, target = Sources([("p1", 5000), ("p2", 9000)], seed=5), os.path.join(store.mounts[0], "road")
    trace = os.path.join(ROOT, f"trace-{store.kind}")
    code, _, err = run_job(f"road-{store.kind}", MODES[0], sources.job(MODES[0], target, None), prefix=(
        "strace", "-ff", "-ttt", "-o", trace, "-e", "trace=openat,link,linkat,renameat2,fdatasync,fsync"))
    steps = []
    # One file per thread, merged by the time of each call: each call that
    # publishes, with the flag that tells which road and the error it met.
    for _, call in sorted(line.split(None, 1) for thread in glob.glob(trace + ".*") for line in open(thread)):
        word, result = call.split("(")[0], call.rsplit("= ", 1)[-1].split()
        flag = "O_TMPFILE" if "O_TMPFILE" in call else "O_EXCL" if "O_EXCL" in call and TEMPORARY not in call else ""
        if word in ("fdatasync", "fsync") or (target in call and (word != "openat" or flag)):
            steps.append(" ".join([word] + [flag] * (word == "openat") + result[1:2] * (result[0] == "-1")))
    road = list(dict.fromkeys(steps))  # each step once, in order
    return ([] if code == 0 else [f"exit code {code}: {err.strip()}"]) + ([] if road == store.road else [f"took {road}"])


CASES = [("every writing mode as on a local disk", writing_modes), ("16 processes, 2 mounts, 200 uuids", many_processes),
         ("out of space", out_of_space), ("server stops mid-job", server_stops), ("publication road", publication_road)]


def Store(kind, mounts, behind, full, full_behind, stop, restart, road, full_texts=("No space left on device",
                                                                                  "Disk quota exceeded"), heal=None):
    """Two mounts of one store, the server's directories behind them (where readable), a directory
    that runs out of space, how to stop and restart the server, the publication road, a full disk's words."""
    return types.SimpleNamespace(**locals())


NAMED = ["openat O_TMPFILE EOPNOTSUPP", "fdatasync", "link", "fsync"]


def local_store(registry):
    store = registry.directory("store")
    return Store("local disk", [store, store], [], registry.small_file_system("full", 24), [], None, None,
                 ["openat O_TMPFILE", "fdatasync", "linkat", "fsync"])


def gluster_store(registry):
    gluster = servers.Gluster(registry)
    bricks, full = [registry.directory("bricks", n) for n in "12"], [registry.small_file_system(f"full-{n}", 24) for n in "12"]
    # A server that stops answering is given up after 5 s (42 by default).
    volumes = [gluster.volume(name, dirs, [("network.ping-timeout", 5), ("network.frame-timeout", 30)])
               for name, dirs in (("rzstore", bricks), ("rzfull", full))]
    mounts = [gluster.mount(volumes[n > 2], registry.directory(f"mount-{n}")) for n in (1, 2, 3)]
    signal_bricks = lambda number: [os.kill(int(open(pid).read()), number)  # noqa: E731
                                    for pid in glob.glob(os.path.join(gluster.home, "run", "vols", "rzstore", "*.pid"))]
    return Store("GlusterFS", mounts[:2], bricks, mounts[2], full, lambda: signal_bricks(signal.SIGSTOP),
                 lambda: signal_bricks(signal.SIGCONT), NAMED, heal=lambda: gluster.cli("volume", "heal", "rzstore"))


def smb_store(registry):
    shares = {"store": registry.directory("share"), "full": registry.small_file_system("full-share", 24)}
    samba = [servers.Samba(registry, shares)]
    mounts = [samba[0].mount(registry.directory(f"mount-{n}"), "store") for n in (1, 2)]
    return Store("SMB (smbnetfs)", mounts, [shares["store"]], os.path.join(os.path.dirname(mounts[0]), "full"),
                 [shares["full"]], lambda: servers.stop(samba[-1].process), lambda: samba.append(servers.Samba(registry, shares)),
                 NAMED[:2] + ["link EPERM", "renameat2 EINVAL", "openat O_EXCL", "fsync"])


def ceph_store(registry):
    ceph = servers.Ceph(registry)
    mounts = [ceph.mount(registry.directory(f"mount-{n}")) for n in (1, 2)]
    full = registry.directory("mount-1", "full")  # its files go to the pool rz_full, of 24 MiB
    os.setxattr(full, "ceph.dir.layout.pool", b"rz_full")
    ceph.cli("osd", "pool", "set-quota", "rz_full", "max_bytes", str(24 << 20))
    # A pool over its quota refuses writes only once the monitor has seen
    # it full: filled first, then the job finds it full.
    try:
        write(os.path.join(full, "filler"), b"\0" * (32 << 20))
    except OSError:
        pass  # full already
    servers.wait_for(lambda: "full_quota" in ceph.cli("osd", "pool", "ls", "detail"), "the quota to be reached", 60)
    mds = os.path.join(ceph.home, "run", "mds.a.pid")
    return Store("CephFS", mounts, [], full, [], lambda: os.kill(int(open(mds).read()), signal.SIGKILL),
                 lambda: ceph.start("mds.a"), NAMED)


def nfs_store(registry):
    export, full = registry.directory("export"), registry.small_file_system("full-export", 24)
    nfs = servers.Nfs(registry, [export, full])
    mounts = [nfs.mount(registry.directory(f"mount-{n}")) for n in (1, 2)]
    # gvfs answers every failure of the server with EIO, a full disk too.
    return Store("NFS (gvfs)", [m[0] for m in mounts], [export], mounts[0][1], [full], lambda: servers.stop(nfs.server), nfs.start,
                 NAMED[:2] + ["link EPERM", "renameat2", "fsync"], ("Input/output error",))


KINDS = {"local": local_store, "GlusterFS": gluster_store, "SMB": smb_store, "CephFS": ceph_store, "NFS": nfs_store}


def rows(kind, setup, home):
    """Starts the kind's servers, runs every case on them, stops them."""
    try:
        store = timed(f"{kind}: started", lambda: setup(servers.Registry(home)))
        for name, case in CASES:
            if case is server_stops and store.stop is None:
                tally["skipped"] += 1
                print(f"skip {kind}: {name}: no server to stop", flush=True)
                continue
            try:
                problems = case(store)
            except Exception as error:  # a broken row fails alone
                problems = [f"{type(error).__name__}: {error}"]
            tally["failed" if problems else "passed"] += 1
            print(f"{'FAIL' if problems else 'ok  '} {kind}: {name}" + "".join(f"\n       {p}" for p in problems[:8]))
    except servers.Unavailable as reason:
        tally["skipped"] += len(CASES)
        print(f"skip {kind}: every case: {reason}", flush=True)
    finally:
        timed(f"{kind}: stopped", lambda: servers.cleanup(home))


def main():
    for kind in sys.argv[3:] or KINDS:
        rows(kind, KINDS[kind], os.path.join(ROOT, kind))
    print(f"shared: {tally['passed']} passed, {tally['failed']} failed, {tally['skipped']} skipped")
    return 1 if tally["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
