#!/usr/bin/env python3
"""Cost guards: every mode runs a fixed job under counters that cannot be noisy (system calls by
kind, bytes read and written, page faults, peak memory; never a clock), and each count must stay
within its bound. Usage: cost_guards.py PROGRAM DATA_DIR [--only NAME ...]"""
# `table` has a row per job: its data and job (made once into DATA_DIR and kept), what is counted and
# its checks; `run_row` runs any row. A change that costs more changes its bound here, in the same
# commit, and says why in the bound's reason.
import os
import random
import re
import subprocess
import sys
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "..", "bench")]
import jobs  # noqa: E402
from zip_bench import make_archive  # noqa: E402  (the benchmarks' archives: text-like entries, each a different slice)

THREAD_CALLS = ("futex", "sched_yield")  # their number follows the timing of two threads, not the work
READS = ("read", "pread64", "readv", "preadv", "preadv2")
WRITES = ("write", "pwrite64", "writev", "pwritev", "pwritev2", "copy_file_range", "sendfile")
# What runs the program: strace for the calls by kind, strace again for the bytes that reads and writes
# return, GNU time for page faults and peak memory (a small process: a child forked from this Python
# process would inherit Python's memory as its peak). Each writes to the file named last.
TOOLS = {"calls": ("strace", "-f", "-c", "-o"), "time": ("/usr/bin/time", "-q", "-f", "%M %R %F", "-o"),
         "bytes": ("strace", "-f", "-qq", "-e", "trace=" + ",".join(READS + WRITES), "-e", "status=successful",
                   "-e", "abbrev=all", "-s", "0", "-o")}
# Counts of calls, by the names checks give them ("calls" is every call but THREAD_CALLS).
CALLS = {"futex": THREAD_CALLS, "mmap + munmap": ("mmap", "munmap"), "syncs of a whole file system": ("syncfs", "sync"),
         "data syncs": ("fdatasync",), "directory syncs": ("fsync",)}
SMALL_FILES, SMALL_SIZE, failures = 20000, 4096, []
# A row. guard: the name --only takes; title: the mode, a comma, the job; job: its file name, parameters
# and record: n -> the n-th record but its uuid, a dict by the mode's columns (None: no records); n items
# of a unit (shown: the calls by kind per item); checks; count: "calls", "bytes" (time always counts);
# fresh: removed before each run and after the row (the first is where the job writes), with remove;
# size: a file whose size counts are taken per; base: (name, argv) of a run whose peak memory is
# compared; data: made before the job is written.
Row = namedtuple("Row", "guard title job parameters record n unit checks count fresh remove size base data",
                 defaults=("calls bytes", (), (), None, None, None))
# A check: (what is shown, bound or a function of the counts, reason). What is shown says what is
# taken: a count (see `measure`) alone, "per" item, or " / " a size or another run's peak memory.


def tree_name(n):
    return f"a{n // 10000}/b{n // 1000 % 10}/c{n // 100 % 10}/file{n % 100:03}.dat"


def make_tree(root, count, size_of):  # files in 10 x 10 x ... directories of 100 files each, made once
    if not os.path.exists(root + ".done"):
        clean(root)
        for n in range(count):
            os.makedirs(os.path.dirname(path := os.path.join(root, tree_name(n))), exist_ok=True)
            with open(path, "wb") as out:
                out.write(size_of(n))
        open(root + ".done", "w").close()


def make_big(path):
    if not os.path.exists(path) or os.path.getsize(path) != 1 << 30:
        with open(path, "wb") as out:
            out.writelines(os.urandom(1 << 20) for _ in range(1024))


def clean(*paths):
    subprocess.call(["rm", "-rf", *paths])


# The bound of directory syncs: in each batch (an eighth of the records, 32 to 2,048, as the program
# publishes them), the directories that got names and at most those above them up to the target's
# parent (a path's prefixes that end before a slash, down to it); and the result file's.
def directory_syncs(q):
    top, places = os.path.dirname(q["target"]), q["places"]
    size = min(max(len(places) // 8, 32), 2048)
    return 1 + sum(len({path[:i] for path in places[start:start + size] for i in range(len(top), len(path))
                        if path[i] == "/"}) for start in range(0, len(places), size))


# Syncs reach what a job wrote, and only that.
SYNCS = [("syncs of a whole file system", 0, "they would write out what other processes wrote to the same file system"),
         ("data syncs per file", 1, "a sync of each copied file; the result file's"),
         ("directory syncs", directory_syncs, "each batch's directories that got names, and at most those above them "
          "up to the target's parent (in which directories may have been made); the result file's")]


# The checks of 20,000 small files. The job's lines are as long as the paths of the machine that runs
# this, and a job of more than 16 blocks of 1,024 records is read twice. Futex calls: loose, as they
# follow the threads' timing, but far below a handover per file.
def small_files(calls, read, written, peak):
    return [("calls per file", *calls),
            ("futex per file", 0.5, "a small file is hashed by the thread that copies it (a handover cost 4.4); "
             "a thread is woken for every 8 syncs waiting (for each: 1-2.7)"), *SYNCS,
            ("bytes read per file", lambda q: read[0] + 2 * q["line"], read[1] + " ({line:.0f} bytes, read twice)"),
            ("bytes written per file", *written),
            ("peak memory, MiB", peak, "a window of finished copies and their descriptors, not the job, sets it")]


def table(program, d):
    first, listed, million, archive, tree, small, big, store, copy = (f"{d}/{name}" for name in (
        "firstblock-1000x1MiB.zip", "list-50000.zip", "list-1000000.zip", "extract-2000x64KiB.zip", "tree-100k",
        "tree-20k", "big-1GiB.bin", "store-20k", "copy-20k"))
    names = [tree_name(n) for n in range(SMALL_FILES)]
    big_tree = lambda: make_tree(tree, 100000, lambda n: b"x" * (n % 200))  # noqa: E731
    small_tree = lambda: make_tree(small, SMALL_FILES, lambda n: random.Random(n).randbytes(SMALL_SIZE))  # noqa: E731
    stored = lambda n, kind="1": dict(file_name=names[n], private_resource_dir_path=store, storage_type=kind)  # noqa
    existence = [
        ("calls per record", 1.01, "one status query a record, whatever is missing; each directory is opened once"),
        ("peak memory, MiB", 16, "the job is read again a block at a time: the last 16 blocks of 1,024 records")]
    into_store = small_files(
        (12, "status of source, directory, name and copy, two opens and closes, read, write, link: 11"),
        (SMALL_SIZE + 32, "each source once, and its line of the job"),
        (SMALL_SIZE + 100, "each file once, and its result line (80 bytes)"), 24)

    def extraction(mode, job, parameters, record, target, calls, peak):
        return Row("extraction", f"{mode}, 2,000 deflated entries of 64 KiB", job, {"zip_file_path": archive,
                   **parameters}, lambda n: dict(archive_name=f"f{n:05}.txt", **record(n)), 2000, "entry", [
            ("calls per entry", calls, "header and data reads, two seeks, status queries, an unnamed file, one write, "
             "write-back, link, close, the engine's buffer mapped: 15 (16 with the store's directory)"),
            ("bytes read / archive size", 1.05, "each entry's data is read once, the central directory once"),
            ("bytes written per entry", (64 << 10) + 100, "each entry is written once, with its result line"),
            ("peak memory, MiB", peak, "two engines' buffers and a window of copies, not the job, set it"), *SYNCS],
            fresh=(target,), size=archive, data=lambda: make_archive(archive, 2000, 64 << 10))

    return [
        Row("first-block", "list_zip_entry_with_first_block, 1,000 entries of 1 MiB", "firstblock.job",
            {"zip_file_path": first}, None, 1000, "entry", [("bytes read per entry", 24_000,
                "16 KiB answers while only an entry's start is wanted (the whole 385 KiB when answered in full)"),
                ("page faults per entry", 2, "each entry reuses the heap's buffers (a fresh mapping per entry cost 97)"),
                ("mmap + munmap per entry", 0.1, "nothing is mapped per entry"),
                ("calls per entry", 6.5, "the local header in three reads, the data in one, two seeks")],
            data=lambda: make_archive(first, 1000, 1 << 20)),
        Row("list-zip", "list_zip_entry, 50,000 entries", "list.job", {"zip_file_path": listed}, None, 50000, "entry", [
            ("bytes read per entry", 80, "the central directory only: about 60 bytes an entry"),
            ("calls per entry", 0.02, "the archive is read in large blocks, not per entry"),
            ("peak memory, MiB", 28,
             "the engine's item table, about 0.3 KiB an entry; the listing holds one entry at a time")],
            data=lambda: make_archive(listed, 50000, 200)),
        # Memory follows the job, not the archive: listing 1,000,000 entries costs what `7z l` costs, and
        # extracting 1,000 of them what the listing costs.
        Row("million-entries", "list_zip_entry, 1,000,000 entries", "list-million.job", {"zip_file_path": million},
            None, 1, None, [("list_zip_entry / 7z l", 1.2, "the engine's item table; the listing holds one entry at a "
                             "time (measured 1.01)")], "", base=("7z l", ("7z", "l", million)),
            data=lambda: make_archive(million, 10**6, 10, name="f{:07}.txt")),
        Row("million-entries", "extract_from_zip, 1,000 of 1,000,000 entries", "extract-million.job",
            {"zip_file_path": million, "output_base_dir_path": f"{d}/extracted-million"},
            lambda n: dict(archive_name=f"f{n * 997:07}.txt", file_name=f"{n}.txt"), 1000, None, [
                ("extract_from_zip / list_zip_entry", 1.2,
                 "one open archive and 16 bytes an item for lookups (measured 1.09)")], "", (f"{d}/extracted-million",),
            base=("list_zip_entry", (program, "list_zip_entry", f"{d}/list-million.job"))),
        Row("existence", "test_file_existence, 1,000,000 records below a directory missing up to /",
            "existence-root.job", {}, lambda n: dict(dir_name=f"/razadedezuzev-cost-missing/d{n % 1000}",
                                                     file_name=f"gone{n}.bin", storage_type="1"),
            10**6, "record", existence, "calls", data=big_tree),
        Row("existence", "test_file_existence, 1,000,000 records of missing files in existing directories",
            "existence-files.job", {}, lambda n: dict(dir_name=f"{tree}/a{n % 10}/b{n // 10 % 10}",
                                                      file_name=f"gone{n}.bin", storage_type="1"),
            10**6, "record", existence, "calls", data=big_tree),
        Row("list-files", "list_files, 100,000 files in 1,111 directories", "list-files.job", {"dir_path": tree}, None,
            100000, "file", [
                ("calls per file", 1.2, "one status query a file, and a few calls to open and read each directory"),
                ("peak memory, MiB", 8, "the walk holds one directory's entries at a time")], "calls", data=big_tree),
        Row("small-files", "batch_copy_to_resource_store, 20,000 files of 4 KiB (two levels)", "to-store.job",
            {"input_base_dir_path": small}, stored, SMALL_FILES, "file", into_store, fresh=(store,), data=small_tree),
        Row("small-files", "batch_copy_to_resource_store_from_multiple_directories, 20,000 files of 4 KiB "
            "(three levels)", "to-store-multiple.job", {}, lambda n: dict(stored(n, "3"), file_name=os.path.basename(
                names[n]), dir_name=os.path.join(small, os.path.dirname(names[n]))), SMALL_FILES, "file", into_store,
            fresh=(store,)),
        Row("small-files", "batch_copy_from_resource_store, 20,000 files of 4 KiB (out of the store)", "from-store.job",
            {"output_base_dir_path": copy}, stored, SMALL_FILES, "file", small_files(
                (10, "status of stored file, directory and name, two opens and closes, a copy in the kernel, link: 9"),
                (32, "the job's line only: the data moves inside the kernel"),
                (SMALL_SIZE + 8, "each file once, no result line"), 16), fresh=(copy,), remove=(store,),
            data=lambda: run((program, "batch_copy_to_resource_store", f"{d}/to-store.job"), (store, copy))),
        Row("big-file", "batch_copy_to_resource_store, one file of 1 GiB", "big.job", {"input_base_dir_path": d},
            lambda n: dict(file_name=os.path.basename(big), private_resource_dir_path=f"{d}/store-big",
                           storage_type="1"), 1, None, [
                ("peak memory, MiB", 20, "a fixed pipeline of hash buffers, whatever the file's size"),
                ("bytes read / file size", 1.001, "the source is read once"),
                ("bytes written / file size", 1.001, "the copy is written once")],
            fresh=(f"{d}/store-big",), size=big, data=lambda: make_big(big)),
        extraction("extract_from_zip", "extract.job", {"output_base_dir_path": f"{d}/extracted"},
                   lambda n: dict(file_name=f"d{n % 20}/f{n:05}.txt"), f"{d}/extracted", 17, 32),
        extraction("extract_from_zip_to_resource_store", "extract-store.job", {}, lambda n: dict(
            file_name="unused", private_resource_dir_path=f"{d}/store-zip", storage_type="1"), f"{d}/store-zip", 18, 36),
    ]


# One run of (program, mode, job) into nothing (fresh is removed first), under a tool: what the tool wrote.
def run(argv, fresh=(), tool=None, log=None):
    clean(*fresh)
    code, _, error = jobs.outcome(jobs.start(*argv, prefix=(*TOOLS[tool], log) if tool else ()))
    code == 0 or sys.exit(f"{' '.join(argv)} failed with exit code {code}: {error.strip()}")
    return jobs.read_text(log) if tool else ""


# The counts of a row's job, by the names that checks give them.
def measure(row, mode, argv, log):
    kinds, q = {}, {"bytes read": 0, "bytes written": 0, "line": os.path.getsize(argv[2]) / row.n}
    if "calls" in row.count:  # % time, seconds, usecs/call, calls, [errors,] syscall
        lines = run(argv, row.fresh, "calls", log).splitlines()
        kinds = {fields[-1]: int(fields[3]) for fields in map(str.split, lines)
                 if len(fields) >= 5 and re.fullmatch(r"\d+", fields[3]) and fields[-1] != "total"}
    if "bytes" in row.count:
        for call, n in re.findall(r"^(?:\d+ +)?(\w+)\(.*= (\d+)$", run(argv, row.fresh, "bytes", log), re.M):
            q["bytes read" if call in READS else "bytes written"] += int(n)
    peak, minor, major = (int(n) for n in run(argv, row.fresh, "time", log).split()[-3:])
    q.update({name: sum(kinds.get(call, 0) for call in calls) for name, calls in CALLS.items()}, kinds=kinds,
             calls=sum(n for name, n in kinds.items() if name not in THREAD_CALLS), target=(*row.fresh, None)[0],
             places=jobs.destinations(mode, argv[2]) if row.fresh else [])
    size = row.size and os.path.getsize(row.size)
    q.update({"peak memory, MiB": peak / 1024, mode: peak / 1024, "page faults": minor + major, "archive size": size,
              "file size": size, "data syncs": q["data syncs"] - 1})  # data syncs: not the result file's
    if row.base:
        q[row.base[0]] = int(run(row.base[1], (), "time", log).split()[-3]) / 1024
    return q


def run_row(program, data, row):
    mode = row.title.split(",")[0]
    row.data and row.data()
    records = ({"uuid": jobs.uuid_of(n), **row.record(n)} for n in range(row.n)) if row.record else ()
    job = jobs.write_kept_job(os.path.join(data, row.job), jobs.job_lines(mode, row.parameters, records))
    q = measure(row, mode, (program, mode, job), os.path.join(data, "counts.log"))
    print(row.title)
    if row.unit:  # the calls by kind, per item, for whoever has to change a bound
        kinds = sorted(q["kinds"].items(), key=lambda kind: -kind[1])[:8]
        print(f"       calls per {row.unit}: " + ", ".join(f"{name} {n / row.n:.3g}" for name, n in kinds))
    if row.base:
        print(f"       peak memory: {row.base[0]} {q[row.base[0]]:.0f} MiB, {mode} {q[mode]:.0f} MiB")
    for shown, bound, reason in row.checks:
        count, per, item = re.fullmatch(r"(.+?)(?: / (.+)| per (\w+))?", shown).groups()
        value, bound = q[count] / (row.n if item else q[per] if per else 1), bound(q) if callable(bound) else bound
        print(f"  {'ok' if value <= bound else 'OVER':<4} {shown:<42} {value:>12.3f}  bound {bound:>10}   "
              + reason.format_map(q))
        if value > bound:
            failures.append(f"{row.title}: {shown} {value:.3f} > {bound}")
    clean(*row.fresh, *row.remove)


def main():
    program, data = map(os.path.abspath, sys.argv[1:3])
    rows = table(program, data)
    guards = {guard: [row for row in rows if row.guard == guard] for guard in dict.fromkeys(row.guard for row in rows)}
    only = sys.argv[sys.argv.index("--only") + 1:] if "--only" in sys.argv else guards
    os.makedirs(data, exist_ok=True)
    for row in (row for guard in only for row in guards[guard]):  # a name that is no guard's: KeyError
        run_row(program, data, row)
    print(*[f"{len(failures)} count(s) over their bound:", *(f"  {failure}" for failure in failures)] if failures
          else ["every count within its bound"], sep="\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
