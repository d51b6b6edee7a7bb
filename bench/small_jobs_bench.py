#!/usr/bin/env python3
"""Small jobs, as servers send them, against a careful shell script doing the
same work: one-record jobs of every writing mode, 8 servers at once, and a
batch of 20,000 small files against cp -r && sync -f (of the source tree, and
of the same files laid out as the store lays them out); each on an idle file
system and beside a writer that keeps dirtying the same file system.

Usage: small_jobs_bench.py PROGRAM DATA_DIR RUNS

The peer syncs what it wrote and nothing else (`sync FILE DIR`), like the
program. Every case runs interleaved with its peer after one warm-up round;
each run gets a fresh uuid or destination, written by an untimed set-up.
Prints medians and each ratio (program / peer) beside its goal.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time
import uuid
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from jobs import stored_path, write_job  # noqa: E402
sys.path.insert(0, HERE)
from store_bench import SMALL_FILES, make_small_tree  # noqa: E402

RECORD_SIZE = 64 << 10
SERVERS, JOBS_PER_SERVER = 8, 10


class Case:
    """A job of the program and the peer's script for the same work. `prepare`
    writes the job for a fresh destination and returns (program argv, peer
    script)."""

    def __init__(self, name, prepare):
        self.name, self.prepare = name, prepare


def one_record_cases(program, data):
    source = os.path.join(data, "in", "record.bin")
    archive = os.path.join(data, "in", "record.zip")
    os.makedirs(os.path.dirname(source), exist_ok=True)
    with open(source, "wb") as file:
        file.write(os.urandom(RECORD_SIZE))
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as zip_file:
        zip_file.write(source, "record.bin")
    store, out, job = os.path.join(data, "store"), os.path.join(data, "out"), os.path.join(data, "jobs", "one")
    # The stored file that batch_copy_from_resource_store copies out.
    kept = str(uuid.uuid4())
    os.makedirs(os.path.dirname(stored_path(store, kept, 1)), exist_ok=True)
    shutil.copyfile(source, stored_path(store, kept, 1))

    def store_careful(name):
        target = stored_path(store, name, 1)
        return (f"mkdir -p {os.path.dirname(target)} && md5sum {source} >/dev/null && "
                f"cp -n {source} {target} && sync {target} {os.path.dirname(target)}")

    def to_store():
        name = str(uuid.uuid4())
        write_job(job, [("input_base_dir_path", os.path.dirname(source)),
                        ("file", name, "record.bin", store, "1")])
        return [program, "batch_copy_to_resource_store", job], store_careful(name)

    def to_store_from_directories():
        name = str(uuid.uuid4())
        write_job(job, [("file", name, os.path.dirname(source), "record.bin", store, "3")])
        target = stored_path(store, name, 3)
        return ([program, "batch_copy_to_resource_store_from_multiple_directories", job],
                f"mkdir -p {os.path.dirname(target)} && md5sum {source} >/dev/null && "
                f"cp -n {source} {target} && sync {target} {os.path.dirname(target)}")

    def from_store():
        directory = os.path.join(out, str(uuid.uuid4()))
        write_job(job, [("output_base_dir_path", directory), ("file", kept, "record.bin", store, "1")])
        target = os.path.join(directory, "record.bin")
        return ([program, "batch_copy_from_resource_store", job],
                f"mkdir -p {directory} && cp -n {stored_path(store, kept, 1)} {target} && sync {target} {directory}")

    def extract():
        directory = os.path.join(out, str(uuid.uuid4()))
        write_job(job, [("zip_file_path", archive), ("output_base_dir_path", directory),
                        ("file", str(uuid.uuid4()), "record.bin", "record.bin")])
        target = os.path.join(directory, "record.bin")
        return ([program, "extract_from_zip", job],
                f"mkdir -p {directory} && unzip -qn {archive} record.bin -d {directory} && "
                f"md5sum {target} >/dev/null && sync {target} {directory}")

    def extract_to_store():
        name = str(uuid.uuid4())
        write_job(job, [("zip_file_path", archive), ("file", name, "record.bin", "record.bin", store, "1")])
        target = stored_path(store, name, 1)
        return ([program, "extract_from_zip_to_resource_store", job],
                f"mkdir -p {os.path.dirname(target)} && unzip -qn {archive} record.bin -d {out} && "
                f"md5sum {out}/record.bin >/dev/null && mv -n {out}/record.bin {target} && "
                f"sync {target} {os.path.dirname(target)}")

    return [Case("batch_copy_to_resource_store", to_store),
             Case("..._from_multiple_directories", to_store_from_directories),
             Case("batch_copy_from_resource_store", from_store),
             Case("extract_from_zip", extract),
             Case("extract_from_zip_to_resource_store", extract_to_store)], store_careful


def servers_case(program, data, store_careful):
    """8 servers at once, each running 10 one-record store jobs in turn."""
    source = os.path.join(data, "in", "record.bin")
    store = os.path.join(data, "store")

    def prepare():
        program_lines, peer_lines = [], []
        for server in range(SERVERS):
            jobs = []
            for number in range(JOBS_PER_SERVER):
                name = str(uuid.uuid4())
                job = os.path.join(data, "jobs", f"server{server}-{number}")
                write_job(job, [("input_base_dir_path", os.path.dirname(source)),
                                ("file", name, "record.bin", store, "1")])
                jobs.append(job)
                peer_lines.append(store_careful(str(uuid.uuid4())))
            program_lines.append("(" + " && ".join(f"{program} batch_copy_to_resource_store {job}"
                                                    for job in jobs) + ") &")
        per_server = len(peer_lines) // SERVERS
        peer = [("(" + " && ".join(peer_lines[s * per_server:(s + 1) * per_server]) + ") &")
                for s in range(SERVERS)]
        return ["bash", "-c", "\n".join(program_lines) + "\nwait"], "\n".join(peer) + "\nwait"

    return Case(f"{SERVERS} servers x {JOBS_PER_SERVER} store jobs", prepare)


def batch_cases(program, data):
    """The batch against `cp -r` of the source tree, and against `cp -r` of the same files
    already laid out as the store lays them out (a fan-out directory for almost every
    file): the least any copy into that layout costs with one sync of everything."""
    tree = os.path.join(data, "tree")
    names = make_small_tree(tree)
    shaped = os.path.join(data, "store_shaped")
    if not os.path.exists(shaped):
        for name in names:
            target = stored_path(shaped + ".part", str(uuid.uuid4()), 1)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(os.path.join(tree, name), target)
        os.rename(shaped + ".part", shaped)
    return [batch_case(program, data, tree, names, tree, "x 4 KiB into the store"),
            batch_case(program, data, tree, names, shaped, "x 4 KiB, peer store-shaped")]


def batch_case(program, data, tree, names, peer_tree, title):
    job = os.path.join(data, "jobs", "batch")
    aside = os.path.join(data, "aside")

    def prepare():
        # Earlier copies are moved aside, not deleted: removing 20,000 files
        # just before a run would burden whichever command came next.
        os.makedirs(aside, exist_ok=True)
        for old in ("batch_store", "batch_copy"):
            if os.path.exists(os.path.join(data, old)):
                os.rename(os.path.join(data, old), os.path.join(aside, f"{old}-{time.time_ns()}"))
        root = os.path.join(data, "batch_store")
        write_job(job, [("input_base_dir_path", tree)] +
                  [("file", str(uuid.uuid4()), name, root, "1") for name in names])
        subprocess.check_call(["sync", "-f", data])
        copy = os.path.join(data, "batch_copy")
        return [program, "batch_copy_to_resource_store", job], f"cp -r {peer_tree} {copy} && sync -f {copy}"

    return Case(f"{SMALL_FILES:,} {title}", prepare)


def run_timed(argv):
    start = time.perf_counter()
    code = subprocess.call(argv, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if code != 0:
        sys.exit(f"exit code {code}: {argv}")
    return elapsed


def measure(case, runs):
    program_times, peer_times = [], []
    for round_number in range(runs + 1):
        argv, script = case.prepare()
        program_elapsed = run_timed(argv)
        argv, script = case.prepare()
        peer_elapsed = run_timed(["bash", "-c", script])
        if round_number > 0:  # round 0 warms the cache
            program_times.append(program_elapsed)
            peer_times.append(peer_elapsed)
    return statistics.median(program_times), statistics.median(peer_times), max(program_times)


def report(case, runs, goal):
    program, peer, slowest = measure(case, runs)
    ratio = program / peer
    verdict = "met" if ratio <= goal else "MISSED"
    print(f"  {case.name:<38} {program * 1000:9.1f} ms (max {slowest * 1000:7.1f})  peer {peer * 1000:9.1f} ms"
          f"  ratio {ratio:5.2f}  (goal <= {goal})  {verdict}")
    sys.stdout.flush()


class BusyWriter:
    """Keeps rewriting 1 GiB on the file system, never syncing, while it lasts."""

    def __init__(self, data):
        self.path = os.path.join(data, "writer.bin")

    def __enter__(self):
        self.process = subprocess.Popen(
            ["bash", "-c", f"while :; do dd if=/dev/zero of={self.path} bs=1M count=1024 conv=notrunc "
                           "status=none; done"], start_new_session=True)
        time.sleep(2)  # dirty pages pile up
        return self

    def __exit__(self, *_):
        os.killpg(self.process.pid, 9)
        self.process.wait()
        os.remove(self.path)
        subprocess.call(["sync", "-f", os.path.dirname(self.path)])


def main():
    program, data, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(os.path.join(data, "jobs"), exist_ok=True)
    singles, store_careful = one_record_cases(program, data)
    servers = servers_case(program, data, store_careful)
    batches = batch_cases(program, data)
    subprocess.check_call(["sync", "-f", data])
    for title, busy in (("idle file system", False), ("beside a busy writer", True)):
        print(f"== {title} (medians of {runs}; peer: mkdir -p, md5sum, cp -n / unzip -qn, sync FILE DIR)")
        writer = BusyWriter(data) if busy else None
        if writer:
            writer.__enter__()
        try:
            for case in singles:
                report(case, runs, 1.0)
            report(servers, runs, 1.0)
            print(f"  (peer of the batches: cp -r && sync -f, of the source tree, then of a store-shaped one)")
            for batch in batches:
                report(batch, max(1, runs // 2), 0.8 if busy else 1.0)
        finally:
            if writer:
                writer.__exit__()
    shutil.rmtree(os.path.join(data, "aside"), ignore_errors=True)


if __name__ == "__main__":
    main()
