#!/usr/bin/python3
"""The program on a store shared over the network: a GlusterFS volume replicated
over two bricks and a Samba share through smbnetfs, each mounted twice (two
machines). Started by run.sh, which builds the program and cleans up after.

Usage: shared_test.py PROGRAM ROOT [GlusterFS|SMB]   (both unless one is named)

Sources and job files stay on the local disk; stores and output directories are
on the mounts. What the servers hold is also read behind the mounts (the bricks,
the share's directory), where a client's cache cannot hide anything.
"""
import glob
import hashlib
import os
import random
import shutil
import signal
import sys
import time
import zipfile

import servers

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jobs  # noqa: E402

PROGRAM, ROOT = sys.argv[1], sys.argv[2]
TEMPORARY = ".razadedezuzev-"
RUN_LIMIT = 180  # seconds: no run may take longer, on any fault
tally = {"passed": 0, "failed": 0, "skipped": 0}


def report(name, problems):
    tally["failed" if problems else "passed"] += 1
    print(f"{'FAIL' if problems else 'ok  '} {name}" + "".join(f"\n       {p}" for p in problems[:8]))
    sys.stdout.flush()


def skip(line):
    tally["skipped"] += 1
    print(f"skip {line}")


def md5(data):
    return hashlib.md5(data).hexdigest()


def read(path):
    with open(path, "rb") as file:
        return file.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(data)


def tree(root, skip_dirs=(".glusterfs",)):
    """Every file below root by relative path, with its bytes."""
    files = {}
    for directory, subdirs, names in os.walk(root):
        subdirs[:] = [d for d in subdirs if d not in skip_dirs]
        for name in names:
            path = os.path.join(directory, name)
            files[os.path.relpath(path, root)] = read(path)
    return files


def size(path):
    try:
        return os.stat(path).st_size
    except FileNotFoundError:
        return 0


def temporaries(*roots):
    return [os.path.join(d, n) for root in roots for d, _, names in os.walk(root) for n in names if TEMPORARY in n]


# --- jobs --------------------------------------------------------------------

MODES = ["batch_copy_to_resource_store", "batch_copy_to_resource_store_from_multiple_directories",
         "batch_copy_from_resource_store", "extract_from_zip", "extract_from_zip_to_resource_store"]
INTO_STORE = {MODES[0], MODES[1], MODES[4]}


class Sources:
    """Items (uuid, name, bytes) on the local disk: in/NAME, dirs/N/NAME, archive.zip."""

    def __init__(self, directory, items):
        self.directory, self.items = directory, items
        self.archive = os.path.join(directory, "archive.zip")
        os.makedirs(directory, exist_ok=True)
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as archive:
            for n, (_, name, data) in enumerate(items):
                write(os.path.join(directory, "in", name), data)
                write(os.path.join(directory, "dirs", str(n), name), data)
                archive.writestr(name, data)

    def job(self, mode, store, out, order=None):
        lines = {MODES[0]: [("input_base_dir_path", os.path.join(self.directory, "in"))],
                 MODES[2]: [("output_base_dir_path", out)], MODES[3]: [("zip_file_path", self.archive),
                                                                       ("output_base_dir_path", out)],
                 MODES[4]: [("zip_file_path", self.archive)]}.get(mode, [])
        for n in order or range(len(self.items)):
            uuid, name, _ = self.items[n]
            lines.append({MODES[0]: ("file", uuid, name, store, "1"),
                          MODES[1]: ("file", uuid, os.path.join(self.directory, "dirs", str(n)), name, store, "1"),
                          MODES[2]: ("file", uuid, name, store, "1"), MODES[3]: ("file", uuid, name, name),
                          MODES[4]: ("file", uuid, name, name, store, "1")}[mode])
        return lines


def stored(store, uuid):
    return os.path.join(store, uuid[0:2], uuid[2:4], uuid)


def destination(mode, item, store, out):
    return stored(store, item[0]) if mode in INTO_STORE else os.path.join(out, item[1])


def run_job(directory, mode, lines, prefix=(), wait=True):
    """Runs a job from a local directory; returns (exit code, .out, .err), or
    the process when not waiting."""
    job = jobs.write_job(os.path.join(directory, "job"), lines)
    process = jobs.start(PROGRAM, mode, job, prefix=("timeout", "-s", "KILL", str(RUN_LIMIT), *prefix))
    return process if wait is False else jobs.outcome(process)


def items_of(sizes, seed):
    generator = random.Random(seed)
    items = []
    for n, (name, size) in enumerate(sizes):
        digest = md5(f"{seed}/{n}".encode())
        uuid = f"{digest[:8]}-{digest[8:12]}-4{digest[13:16]}-8{digest[17:20]}-{digest[20:32]}"
        items.append((uuid, name, generator.randbytes(size)))
    return items


# --- 1. every writing mode, against the same job on a local disk --------------

def writing_modes(label, mount, backing):
    items = items_of([("empty", 0), ("one", 1), ("page", 4096), ("sub/mid", (1 << 20) + 3),
                      ("sub/deep/big", (3 << 20) + 1)], seed=1)
    sources = Sources(os.path.join(ROOT, "modes-src"), items)
    for mode in MODES:
        results, problems = {}, []
        for place in ("local", "shared"):
            base = os.path.join(ROOT if place == "local" else mount, "modes", label, mode)
            store, out = os.path.join(base, "store"), os.path.join(base, "out")
            if mode == MODES[2]:
                for uuid, _, data in items:
                    write(stored(store, uuid), data)
            existing = destination(mode, items[2], store, out)
            write(existing, b"stored before")
            os.utime(existing, (1e9, 1e9))
            code, out_text, err = run_job(os.path.join(ROOT, "jobs", label, place, mode), mode,
                                          sources.job(mode, store, out))
            results[place] = (code, out_text, tree(base))
            if os.stat(existing).st_mtime != 1e9 or read(existing) != b"stored before":
                problems.append(f"{place}: the existing file was changed")
            if code != 0:
                problems.append(f"{place}: exit code {code}: {err.strip()}")
        if results["local"][:2] != results["shared"][:2]:
            problems.append(f"result files or exit codes differ: {results['local'][:2]} / {results['shared'][:2]}")
        if results["local"][2] != results["shared"][2]:
            differing = set(results["local"][2].items()) ^ set(results["shared"][2].items())
            problems.append(f"the files differ from the local run's: {sorted(p for p, _ in differing)}")
        problems += [f"temporary file left: {p}" for p in temporaries(mount, *backing)]
        report(f"{label}: {mode}: same results and files as on a local disk", problems)


# --- 2. several servers at once ------------------------------------------------

def concurrent_servers(label, mounts, backing, processes=16, count=200):
    items = items_of([(f"f{n:03d}", (n * 997) % 24000) for n in range(count)], seed=2)
    sources = Sources(os.path.join(ROOT, f"many-src-{label}"), items)
    store = os.path.join(mounts[0], "many")
    running = []
    for k in range(processes):
        order = list(range(count))
        random.Random(k).shuffle(order)
        mode = MODES[0] if k % 4 < 2 else MODES[4]
        mount_store = os.path.join(mounts[k % len(mounts)], "many")
        running.append(run_job(os.path.join(ROOT, "jobs", f"many-{label}", str(k)), mode,
                               sources.job(mode, mount_store, None, order), wait=False))
    problems = []
    expected = {os.path.relpath(stored(store, uuid), store): data for uuid, _, data in items}
    for k, process in enumerate(running):
        code, out, err = jobs.outcome(process)
        if code != 0 and not (code == 2 and err.strip()):
            problems.append(f"process {k}: exit code {code} without a message")
        elif code != 0:
            print(f"       process {k} ended with: {err.strip().splitlines()[0]}")
        for line in out.splitlines():
            _, uuid, size, digest = line.split("\t")
            data = expected.get(os.path.relpath(stored(store, uuid), store))
            if data is None or (int(size), digest) != (len(data), md5(data)):
                problems.append(f"process {k} reported {line!r}, not what is stored")
    for where, root in [("mount", store)] + [(b, os.path.join(b, "many")) for b in backing]:
        found = tree(root)
        if found != expected:
            wrong = sorted(p for p in set(found) | set(expected) if found.get(p) != expected.get(p))
            problems.append(f"{where}: {len(wrong)} files missing, extra or not whole: {wrong[:3]}")
    report(f"{label}: {processes} processes through {len(mounts)} mounts storing and extracting "
           f"the same {count} uuids: one whole file each, every digest right", problems)


# --- 3. faults of the real servers --------------------------------------------

def out_of_space(label, mount, backing):
    items = items_of([("a", 4096), ("b", 40 << 20), ("c", 4096)], seed=3)
    sources = Sources(os.path.join(ROOT, "full-src"), items)
    local_store = os.path.join(ROOT, "full-local-store")
    for uuid, _, data in items:
        write(stored(local_store, uuid), data)
    for mode in MODES:
        base = os.path.join(mount, "full", mode)
        store = local_store if mode == MODES[2] else os.path.join(base, "store")
        out = os.path.join(base, "out")
        code, out_text, err = run_job(os.path.join(ROOT, "jobs", f"full-{label}", mode), mode,
                                      sources.job(mode, store, out))
        problems = [] if code == 2 else [f"exit code {code}"]
        # The first record is copied beside the second, so the full disk may
        # fail it too: then it is neither reported nor published.
        first = f"file\t{items[0][0]}\t4096\t{md5(items[0][2])}\n" if mode != MODES[2] else ""
        if out_text not in (first, ""):
            problems.append(f"result lines {out_text!r}")
        if "No space left on device" not in err and "Disk quota exceeded" not in err:
            problems.append(f"no system text of a full disk in {err!r}")
        first_failed = f"to {destination(mode, items[0], store, out)}" in err or \
            f"failed: {destination(mode, items[0], store, out)}" in err
        for item, whole in zip(items, (not first_failed, False, False)):
            path = destination(mode, item, store, out)
            if os.path.exists(path) != whole or (whole and read(path) != item[2]):
                problems.append(f"{item[1]}: {'missing or not whole' if whole else 'published'}")
        problems += [f"temporary file left: {p}" for p in temporaries(mount, *backing)]
        report(f"{label}: out of space: {mode}: failure on the record, nothing published, exit 2", problems)
        if mode != MODES[2]:
            shutil.rmtree(os.path.join(base, "store"), ignore_errors=True)
        shutil.rmtree(out, ignore_errors=True)


def fault_during_job(label, mount, backing, fault, expect_success, name, prefix=(), files=24, size=2 << 20):
    """Runs a job of `files` files into a store on the mount (directory
    fault-NAME's first word), applies `fault` to the running process, and
    checks what every server holds."""
    items = items_of([(f"g{n:02d}", size) for n in range(files)], seed=4)
    tag = "fault-" + md5(name.encode())[:6]
    sources = Sources(os.path.join(ROOT, tag + "-src"), items)
    store = os.path.join(mount, tag)
    started = time.monotonic()
    process = run_job(os.path.join(ROOT, "jobs", f"fault-{name}"), MODES[0], sources.job(MODES[0], store, None),
                      prefix=prefix, wait=False)
    fault(process)
    code, out, err = jobs.outcome(process)
    took = time.monotonic() - started
    problems = [] if code != -signal.SIGKILL else [f"killed after {RUN_LIMIT} s: it hung"]
    if expect_success and (code, len(out.splitlines())) != (0, files):
        problems.append(f"exit code {code}, {len(out.splitlines())} lines: {err.strip()}")
    if not expect_success and (code != 2 or not err.strip()):
        problems.append(f"exit code {code} with {err!r}")
    partial = []
    for root in [store] * expect_success + [os.path.join(b, tag) for b in backing]:
        partial += [f"{root}: {uuid}" for uuid, _, data in items
                    if os.path.exists(stored(root, uuid)) and read(stored(root, uuid)) != data]
    reported = {line.split("\t")[1] for line in out.splitlines()}
    missing = [uuid for uuid in reported if not all(os.path.exists(stored(os.path.join(b, tag), uuid))
                                                    for b in backing)]
    problems += [f"not whole under its final name: {p}" for p in partial]
    problems += [f"reported but not stored: {uuid}" for uuid in missing]
    message = err.strip().splitlines()[0] if err.strip() else "no message"
    report(f"{label}: {name}: {'completed' if expect_success else message} ({took:.0f} s)", problems)
    return out, items, tag


def wait_until(condition, process, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition() and process.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)


def wait_for_temporary(roots, process):
    """Until a temporary file shows behind the mount: the job is copying."""
    wait_until(lambda: temporaries(*roots), process)


# --- 4. which publication path each file system takes -------------------------

def publication_path(label, directory):
    """Traces a small job into a store below `directory`; returns the path taken."""
    items = items_of([("p1", 5000), ("p2", 9000)], seed=5)
    sources = Sources(os.path.join(ROOT, f"path-src-{label}"), items)
    store = os.path.join(directory, "paths")
    trace = os.path.join(ROOT, f"trace-{label}")
    code, _, err = run_job(os.path.join(ROOT, "jobs", f"path-{label}"), MODES[0], sources.job(MODES[0], store, None),
                           prefix=("strace", "-ff", "-ttt", "-o", trace, "-e",
                                   "trace=openat,link,linkat,renameat2,syncfs,fdatasync,fsync"))
    # One file per thread, merged by the time of each call.
    lines = sorted(line.split(None, 1) for thread in glob.glob(trace + ".*") for line in open(thread))
    result_file = [call.rsplit("= ", 1)[-1].strip() for _, call in lines if "job.out" in call]
    calls = [call for _, call in lines if store in call or
             ("sync" in call.split("(")[0] and not call.startswith(tuple(f"{w}({result_file[0]})" for w in
                                                                         ("fdatasync", "fsync"))))]
    steps = []
    for call in calls:
        result = call.rsplit("= ", 1)[-1].split(" (")[0].strip()
        word = call.split("(")[0]
        if "O_TMPFILE" in call:
            steps.append("unnamed file" if not result.startswith("-1") else f"no unnamed file ({result.split()[1]})")
        elif word in ("link", "linkat", "renameat2") or (word == "openat" and "O_EXCL" in call and TEMPORARY not in call):
            what = {"link": "link", "linkat": "linkat", "renameat2": "rename without replacing",
                    "openat": "exclusive create and copy"}[word]
            steps.append(what if not result.startswith("-1") else f"no {what} ({result.split()[1]})")
        elif word in ("syncfs", "fdatasync", "fsync"):
            steps.append(word)
    path = list(dict.fromkeys(steps))  # each step once, in order
    return code, err, path


def publication_paths(mounts):
    """The path each file system takes, as docs/store.md describes it."""
    expected = {"local disk": ["unnamed file", "syncfs", "linkat"],
                "GlusterFS": ["no unnamed file (EOPNOTSUPP)", "fdatasync", "link", "fsync"],
                "SMB (smbnetfs)": ["no unnamed file (EOPNOTSUPP)", "fdatasync", "no link (EPERM)",
                                   "no rename without replacing (EINVAL)", "exclusive create and copy", "fsync"]}
    for label, directory in mounts:
        code, err, path = publication_path(label, directory)
        problems = [] if code == 0 else [f"exit code {code}: {err.strip()}"]
        if path != expected[label]:
            problems.append(f"took {path}")
        report(f"{label}: publication by {' -> '.join(expected[label])}", problems)


# --- the servers --------------------------------------------------------------

def gluster_tests(registry):
    gluster = servers.Gluster(registry)
    bricks = [registry.directory("bricks", "1"), registry.directory("bricks", "2")]
    # A server that stops answering is given up after 5 s (42 by default).
    timeouts = [("network.ping-timeout", 5), ("network.frame-timeout", 30)]
    volume = gluster.volume("rzstore", bricks, timeouts)
    mounts = [gluster.mount(volume, os.path.join(ROOT, f"gluster-{n}")) for n in (1, 2)]
    full = [registry.small_file_system(f"full-brick-{n}", 24) for n in (1, 2)]
    full_mount = gluster.mount(gluster.volume("rzfull", full, timeouts), os.path.join(ROOT, "gluster-full"))
    writing_modes("GlusterFS", mounts[0], bricks)
    concurrent_servers("GlusterFS", mounts, bricks)
    out_of_space("GlusterFS", full_mount, full)
    publication_paths([("GlusterFS", mounts[0])])
    first, second = gluster.brick_pids(volume)

    def stop_one(process):
        wait_for_temporary(bricks, process)
        os.kill(second, signal.SIGSTOP)
    fault_during_job("GlusterFS", mounts[0], bricks[:1], stop_one, True, "one brick stops answering mid-job")
    os.kill(second, signal.SIGCONT)

    def stop_both(process):
        wait_for_temporary(bricks, process)
        for pid in (first, second):
            os.kill(pid, signal.SIGSTOP)
    fault_during_job("GlusterFS", mounts[1], bricks, stop_both, False, "both bricks stop answering mid-job")


def smb_tests(registry):
    share, full = registry.directory("share"), registry.small_file_system("full-share", 24)
    samba = servers.Samba(registry, {"store": share, "full": full})
    mounts = [samba.mount(os.path.join(ROOT, f"smb-{n}"), "store") for n in (1, 2)]
    full_mount = os.path.join(os.path.dirname(mounts[0]), "full")
    writing_modes("SMB", mounts[0], [share])
    concurrent_servers("SMB", mounts, [share])
    out_of_space("SMB", full_mount, [full])
    publication_paths([("SMB (smbnetfs)", mounts[0])])

    # The program is held in a call (strace delays it) while the server goes.
    def stop_server_when(condition):
        def fault(process):
            wait_until(condition, process)
            samba.stop()
        return fault
    def hold(call, when):
        return ("strace", "-f", "-o", "/dev/null", "-e", f"trace={call}", "-e",
                f"inject={call}:delay_enter=3000000:when={when}")
    name = "server stops before the names are given"
    whole = lambda: sum(size(p) for p in temporaries(share)) == 4 * (2 << 20)  # noqa: E731
    fault_during_job("SMB", mounts[0], [share], stop_server_when(whole), False, name,
                     prefix=hold("fdatasync", 1), files=4)
    # Without links the final name is created, then filled: a server that
    # goes meanwhile leaves part of the file under that name.
    samba = servers.Samba(registry, {"store": share, "full": full})
    name = "server stops while a final name is filled"
    final = stored(os.path.join(share, "fault-" + md5(name.encode())[:6]), items_of([("g00", 0)], seed=4)[0][0])
    out, items, _ = fault_during_job("SMB", mounts[1], [], stop_server_when(lambda: os.path.exists(final)), False,
                                     name, prefix=hold("pread64", 2), files=1)
    left = read(final) if os.path.exists(final) else None
    report("SMB: what stays is the start of the file under its final name, unreported (lost without links)",
           [] if left is not None and len(left) < len(items[0][2]) and items[0][2].startswith(left) and not out
           else [f"left {left if left is None else len(left)} bytes, reported {out!r}"])


def main():
    registry = servers.Registry(ROOT)
    publication_paths([("local disk", ROOT)])
    for name, tests in (("GlusterFS", gluster_tests), ("SMB", smb_tests)):
        if sys.argv[3:] and name not in sys.argv[3:]:
            continue
        try:
            tests(registry)
        except servers.Unavailable as reason:
            skip(str(reason))
    print(f"shared: {tally['passed']} passed, {tally['failed']} failed, {tally['skipped']} skipped")
    return 1 if tally["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
