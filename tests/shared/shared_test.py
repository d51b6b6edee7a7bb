#!/usr/bin/python3
"""The program on a store shared over the network: the same CASES over every kind of
mount (servers.KINDS), each server on loopback, each store mounted twice (two machines);
what the servers hold is also read behind the mounts, where no cache hides anything.
Run by run.sh (which builds and cleans up): shared_test.py PROGRAM ROOT [KIND ...]"""
import glob
import hashlib
import os
import random
import sys
import time
import zipfile

import servers

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jobs  # noqa: E402

PROGRAM, ROOT = sys.argv[1:3]
TEMPORARY = ".razadedezuzev-"
STALL = 15  # seconds without a returning call before a run is given up (NUV_RAZADEDEZUZEV_STALL_SECONDS)
RUN_LIMIT = 180  # seconds: no run may take longer, on any fault
MODES = ["batch_copy_to_resource_store", "batch_copy_to_resource_store_from_multiple_directories",
         "batch_copy_from_resource_store", "extract_from_zip", "extract_from_zip_to_resource_store"]
tally = {"passed": 0, "failed": 0, "skipped": 0}


def read(path):
    with open(path, "rb") as file:
        return file.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(data)


def files(*roots):
    """Every file below the roots (the bricks' own .glusterfs skipped)."""
    return [os.path.join(d, n) for root in roots for d, _, names in os.walk(root) if ".glusterfs" not in d
            for n in names]


def tree(root):
    return {os.path.relpath(path, root): read(path) for path in files(root)}


def digest(data):
    return [str(len(data)), hashlib.md5(data).hexdigest()]


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
            for n, (_, name, data) in enumerate(self.items):
                write(os.path.join(self.directory, "in", name), data)
                write(os.path.join(self.directory, "dirs", str(n), name), data)
            with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as archive:
                for _, name, data in self.items:
                    archive.writestr(name, data)

    def start(self, name, mode, store, out=None, order=None, prefix=(), before=lambda job: None):
        """Starts a job of the items (in `order`) from a local directory, once `before(job)` is done."""
        records = [dict(uuid=self.items[n][0], file_name=self.items[n][1], archive_name=self.items[n][1],
                        dir_name=os.path.join(self.directory, "dirs", str(n)), private_resource_dir_path=store,
                        storage_type=1) for n in order or range(len(self.items))]
        job = jobs.write_job(os.path.join(ROOT, "jobs", name, "job"), jobs.job_lines(mode, {
            "input_base_dir_path": os.path.join(self.directory, "in"), "zip_file_path": self.archive,
            "output_base_dir_path": out}, records))
        before(job)
        return jobs.start(PROGRAM, mode, job, prefix=("timeout", "-s", "KILL", str(RUN_LIMIT), *prefix),
                          env=dict(os.environ, NUV_RAZADEDEZUZEV_STALL_SECONDS=str(STALL)))


def whole(process, items, out):
    """A run's files (its arguments end with mode and job): each destination absent or whole,
    each reported one there, with its size and digest; no other reported."""
    reported, problems = {line.split("\t")[1]: line.split("\t")[2:] for line in out.splitlines()}, []
    for path, (uuid, _, data) in zip(jobs.destinations(*process.args[-2:]), items):
        there, line = os.path.exists(path), reported.pop(uuid, None)
        if (there and read(path) != data) or (line is not None and (not there or line != digest(data))):
            problems.append(f"{path}: not whole, or reported and missing or with another size or digest")
    return problems + [f"{uuid}: reported, not in the job" for uuid in reported]


# --- the cases: each takes a servers.Store and returns its problems; after each, no temporary file is left

def writing_modes(store):
    """Every writing mode: the same results and files as on a local disk, an existing file untouched."""
    sources, problems = Sources([("empty", 0), ("one", 1), ("page", 4096), ("sub/mid", (1 << 20) + 3),
                                 ("sub/deep/big", (3 << 20) + 1)], seed=1), []
    for mode in MODES:
        results = {}
        for place, top in (("local", os.path.join(ROOT, "local-modes")), ("shared", store.mounts[0])):
            base = os.path.join(top, "modes", store.kind, mode)
            for uuid, _, data in sources.items * (mode == MODES[2]):
                write(jobs.stored_path(os.path.join(base, "store"), uuid, 1), data)
            # Its bytes tell an overwrite (no source holds them); its time cannot:
            # a FUSE mount may pass the close of our writing on after a later utime.
            existing = lambda job: write(jobs.destinations(mode, job)[2], b"stored before")  # noqa: E731
            process = sources.start(f"modes-{store.kind}-{place}-{mode}", mode, os.path.join(base, "store"),
                                    os.path.join(base, "out"), before=existing)
            code, out, err = jobs.outcome(process)
            results[place] = (code, out, tree(base))
            if read(jobs.destinations(mode, process.args[-1])[2]) != b"stored before" or code != 0:
                problems.append(f"{mode}: {place}: exit code {code}, the existing file changed? {err.strip()}")
        if results["local"] != results["shared"]:
            differing = set(results["local"][2].items()) ^ set(results["shared"][2].items())
            problems.append(f"{mode}: results or files differ from the local run's: {sorted(p for p, _ in differing)}")
    return problems


def many_processes(store, processes=16, count=200):
    """16 processes through both mounts storing and extracting the same 200
    uuids: one whole file each, every digest right."""
    sources, problems = Sources([(f"f{n:03d}", (n * 997) % 24000) for n in range(count)], seed=2), []
    expected = {jobs.stored_path("", uuid, 1): data for uuid, _, data in sources.items}
    running = [sources.start(f"many-{store.kind}-{k}", MODES[0] if k % 4 < 2 else MODES[4], os.path.join(
        store.mounts[k % 2], "many"), order=random.Random(k).sample(range(count), count)) for k in range(processes)]
    for k, process in enumerate(running):
        code, out, err = jobs.outcome(process)
        problems += [f"process {k}: exit code {code}: {err.strip()[:200]}"] * (code != 0) + [
            f"process {k} reported {line!r}, not what is stored" for line in out.splitlines()
            if line.split("\t")[2:] != digest(expected.get(jobs.stored_path("", line.split("\t")[1], 1), b"?"))]

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
    return problems


def out_of_space(store):
    """Every writing mode into a full store: the record fails with the
    system's text, nothing of it is published, exit 2."""
    sources, local_store, problems = Sources([("a", 4096), ("b", 40 << 20), ("c", 4096)], seed=3), \
        os.path.join(ROOT, "full-local-store"), []
    for uuid, _, data in sources.items:
        write(jobs.stored_path(local_store, uuid, 1), data)
    for mode in MODES:
        base = os.path.join(store.full, mode)
        process = sources.start(f"full-{store.kind}-{mode}", mode, local_store if mode == MODES[2] else
                                os.path.join(base, "store"), os.path.join(base, "out"))
        code, out, err = jobs.outcome(process)
        if code != 2 or len(out.splitlines()) > (mode != MODES[2]) or not any(t in err for t in store.full_texts):
            problems.append(f"{mode}: exit code {code}, result lines {out!r}, a full disk's words in? {err!r}")
        # The first record is copied beside the second, so the full disk may
        # fail it too: then it is neither reported nor published.
        first, *others = jobs.destinations(mode, process.args[-1])
        problems += [f"{mode}: {path} published" for path in others if os.path.exists(path)] + whole(
            process, sources.items, out) + [f"{mode}: {first} published though failed, or missing"] * (
            os.path.exists(first) == (first in err))
    return problems


def server_stops(store, files=24, size=2 << 20):
    """The server stops answering mid-job: the caller is answered (exit 2 and a
    message) within the stall time, nothing partial has a final name; once the
    server is back, a rerun completes the job."""
    sources, target = Sources([(f"g{n:02d}", size) for n in range(files)], seed=4), store.mounts[1] + "/stops"
    process = sources.start(f"stop-{store.kind}", MODES[0], target)
    servers.wait_for(lambda: temporaries(target) or process.poll() is not None, "a copy under way", 60)
    stopped = time.monotonic()
    timed("server stopped", store.stop)
    code, out, err = jobs.outcome(process)
    took = time.monotonic() - stopped
    print(f"     answered {took:.1f} s after the stop: exit {code}: {err.strip().splitlines()[:1]}")
    problems = [] if code == 2 and err.strip() and took < STALL + 5 else [f"exit code {code} after {took:.0f} s: {err}"]
    timed("server back", lambda: (store.restart(), servers.wait_for(lambda: os.path.isdir(target), "the mount", 60)))
    problems += whole(process, sources.items, out)
    servers.wait_for(lambda: worker_gone(err), "the worker given up to end", 60)
    code, out, err = jobs.outcome(sources.start(f"stop-{store.kind}-again", MODES[0], target))
    return problems + [f"rerun: exit code {code}, {len(out.splitlines())} lines: {err.strip()[:300]}"] * (
        (code, len(out.splitlines())) != (0, files))


def worker_gone(err):
    """Whether the worker a given-up run names has ended (its temporaries are a live process's till then)."""
    pid = err.split("worker process ")[1].split()[0] if "worker process " in err else None
    return not pid or all(open(t).read().rsplit(")", 1)[-1].split()[0] == "Z"
                          for t in glob.glob(f"/proc/{pid}/task/*/stat"))


def publication_road(store):
    """Traces a small job into the store: the calls that publish a file."""
    sources, target = Sources([("p1", 5000), ("p2", 9000)], seed=5), os.path.join(store.mounts[0], "road")
    trace = os.path.join(ROOT, f"trace-{store.kind}")
    code, _, err = jobs.outcome(sources.start(f"road-{store.kind}", MODES[0], target, prefix=(
        "strace", "-ff", "-ttt", "-o", trace, "-e", "trace=openat,link,linkat,renameat2,fdatasync,fsync")))
    steps = []
    # One file per thread, merged by the time of each call: each call that
    # publishes, with the flag that tells which road and the error it met.
    for _, call in sorted(line.split(None, 1) for thread in glob.glob(trace + ".*") for line in open(thread)):
        word, result = call.split("(")[0], call.rsplit("= ", 1)[-1].split()
        flag = "O_TMPFILE" if "O_TMPFILE" in call else "O_EXCL" if "O_EXCL" in call and TEMPORARY not in call else ""
        if word in ("fdatasync", "fsync") or (target in call and (word != "openat" or flag)):
            steps.append(" ".join([word] + [flag] * (word == "openat") + result[1:2] * (result[0] == "-1")))
    road = list(dict.fromkeys(steps))  # each step once, in order
    return [f"exit code {code}: {err.strip()}"] * (code != 0) + [f"took {road}"] * (road != store.road)


CASES = [("every writing mode as on a local disk", writing_modes),
         ("16 processes, 2 mounts, 200 uuids", many_processes), ("out of space", out_of_space),
         ("server stops mid-job", server_stops), ("publication road", publication_road)]


def temporaries(*roots):
    return [path for path in files(*roots) if TEMPORARY in path]


def rows(kind, home):
    """Starts the kind's servers, runs every case on them and checks that none left a temporary file, stops them."""
    try:
        store = timed(f"{kind}: started", lambda: servers.KINDS[kind](home))
        for name, case in CASES:
            if case is server_stops and store.stop is None:
                tally["skipped"] += 1
                print(f"skip {kind}: {name}: no server to stop", flush=True)
                continue
            try:
                problems = case(store) + [f"temporary file left: {path}" for path in temporaries(
                    *dict.fromkeys(store.mounts), store.full, *store.behind, *store.full_behind)]
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
    for kind in sys.argv[3:] or servers.KINDS:
        rows(kind, os.path.join(ROOT, kind))
    print(f"shared: {tally['passed']} passed, {tally['failed']} failed, {tally['skipped']} skipped")
    return 1 if tally["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
