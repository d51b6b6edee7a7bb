#!/usr/bin/env python3
"""Cost guards: every mode runs a fixed job under counters that cannot be
noisy (system calls by kind, bytes read and written, page faults, peak
memory), and each count must stay within the bound written beside it.

Usage: cost_guards.py PROGRAM DATA_DIR [--only NAME ...]

The data is made once into DATA_DIR and kept for later runs. Counts come from
`strace -f` (calls, and the bytes that read and write calls return) and from
the kernel's resource usage of the program (page faults, peak memory), never
from a clock. A change that costs more changes its bound here, in the same
commit, and says why in the bound's reason.
"""
import os
import random
import re
import subprocess
import sys
import tempfile
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import jobs  # noqa: E402
# The benchmarks' archives: text-like entries, each a different slice.
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))
from zip_bench import make_archive  # noqa: E402

# Calls whose number follows the timing of two threads, not the work.
THREAD_CALLS = {"futex", "sched_yield"}
READS = ("read", "pread64", "readv", "preadv", "preadv2")
WRITES = ("write", "pwrite64", "writev", "pwritev", "pwritev2", "copy_file_range", "sendfile")
WHOLE_SYNCS = ("syncfs", "sync")

SMALL_FILES, SMALL_SIZE = 20000, 4096


# --- Data, made once -----------------------------------------------------

def make_tree(root, count, size_of):
    """`count` files in 10 x 10 x ... directories of 100 files each."""
    done = root + ".done"
    if os.path.exists(done):
        return
    subprocess.call(["rm", "-rf", root])
    for n in range(count):
        directory = os.path.join(root, f"a{n // 10000}", f"b{n // 1000 % 10}", f"c{n // 100 % 10}")
        if n % 100 == 0:
            os.makedirs(directory)
        with open(os.path.join(directory, f"file{n % 100:03}.dat"), "wb") as out:
            out.write(size_of(n))
    open(done, "w").close()


def tree_names(count):
    return [f"a{n // 10000}/b{n // 1000 % 10}/c{n // 100 % 10}/file{n % 100:03}.dat" for n in range(count)]


def write_job(path, parameters, records):
    """Made once and kept, like the data."""
    if not os.path.exists(path):
        jobs.write_job(path + ".part", [*parameters.items(), *(("file", *record) for record in records)])
        os.rename(path + ".part", path)
    return path


def uuid_of(n):
    return str(uuid.UUID(int=n + 1))


# --- Counters ------------------------------------------------------------

class Counts:
    def __init__(self):
        self.calls = {}
        self.bytes_read = 0
        self.bytes_written = 0
        self.page_faults = 0
        self.peak_kib = 0

    def total_calls(self):
        return sum(n for name, n in self.calls.items() if name not in THREAD_CALLS)

    def calls_of(self, names):
        return sum(self.calls.get(name, 0) for name in names)


def run(argv, trace_bytes=False, fresh=None):
    """Runs the program under strace for the calls, again for the bytes
    (where asked), and alone for the page faults and the peak memory, which
    the kernel counts for the program itself. `fresh` (a path) is removed
    before each run, so that every run writes into nothing."""
    env = dict(os.environ)
    counts = Counts()
    if fresh:
        clean(fresh)
    with tempfile.NamedTemporaryFile("r") as log:
        options = ["-f", "-c", "-o", log.name]
        subprocess.run(["strace", *options, *argv], env=env, stdout=subprocess.DEVNULL, check=True)
        for line in log.read().splitlines():
            # % time, seconds, usecs/call, calls, [errors,] syscall
            fields = line.split()
            if len(fields) >= 5 and re.fullmatch(r"\d+", fields[3]) and fields[-1] != "total":
                counts.calls[fields[-1]] = int(fields[3])
    if trace_bytes:
        if fresh:
            clean(fresh)
        with tempfile.NamedTemporaryFile("r") as log:
            traced = ",".join(READS + WRITES)
            subprocess.run(["strace", "-f", "-qq", "-e", f"trace={traced}", "-e", "status=successful",
                            "-e", "abbrev=all", "-s", "0", "-o", log.name, *argv],
                           env=env, stdout=subprocess.DEVNULL, check=True)
            for line in log:
                match = re.match(r"(?:\d+ +)?(\w+)\(.*= (\d+)$", line.strip())
                if match:
                    if match.group(1) in READS:
                        counts.bytes_read += int(match.group(2))
                    else:
                        counts.bytes_written += int(match.group(2))
    if fresh:
        clean(fresh)
    # GNU time, a small process, starts the program: a child forked from
    # this Python process would inherit Python's memory as its peak.
    with tempfile.NamedTemporaryFile("r") as usage:
        subprocess.run(["/usr/bin/time", "-q", "-f", "%M %R %F", "-o", usage.name, *argv], env=env,
                       stdout=subprocess.DEVNULL, check=True)
        peak, minor, major = (int(n) for n in usage.read().split()[-3:])
    counts.page_faults = minor + major
    counts.peak_kib = peak
    return counts


# --- Guards --------------------------------------------------------------

failures = []


def show_calls(counts, items, unit):
    """The calls by kind, per item, for whoever has to change a bound."""
    kinds = sorted(counts.calls.items(), key=lambda kind: -kind[1])[:8]
    print(f"       calls per {unit}: " + ", ".join(f"{name} {n / items:.3g}" for name, n in kinds))


def check(guard, measure, value, bound, reason):
    verdict = "ok" if value <= bound else "OVER"
    print(f"  {verdict:<4} {measure:<42} {value:>12.3f}  bound {bound:>10}   {reason}")
    if value > bound:
        failures.append(f"{guard}: {measure} {value:.3f} > {bound}")


def batches(destinations):
    """The program publishes a job in batches of an eighth of its records,
    32 to 2,048."""
    size = min(max(len(destinations) // 8, 32), 2048)
    return [destinations[start:start + size] for start in range(0, len(destinations), size)]


def check_syncs(guard, counts, destinations, root):
    """Syncs reach what the job wrote, and only that: no sync of a whole file
    system, one data sync a file (fdatasync), one sync (fsync) a batch for
    each directory that got a name, and the result file's directory."""
    check(guard, "syncs of a whole file system", counts.calls_of(WHOLE_SYNCS), 0,
          "they would write out what other processes wrote to the same file system")
    check(guard, "data syncs per file", (counts.calls.get("fdatasync", 0) - 1) / len(destinations), 1,
          "a sync of each copied file; the result file's")
    top, bound = os.path.dirname(root), 1
    for batch in batches(destinations):
        synced = set()
        for leaf in {os.path.dirname(path) for path in batch}:
            while len(leaf) >= len(top) and leaf not in synced:
                synced.add(leaf)
                leaf = os.path.dirname(leaf)
        bound += len(synced)
    check(guard, "directory syncs", counts.calls.get("fsync", 0), bound,
          "each batch's directories that got names, and at most those above them up to the "
          "target's parent (in which directories may have been made); the result file's")


def clean(*paths):
    subprocess.call(["rm", "-rf", *paths])


def guard_first_block(program, data):
    archive = os.path.join(data, "firstblock-1000x1MiB.zip")
    make_archive(archive, 1000, 1 << 20)
    job = write_job(os.path.join(data, "firstblock.job"), {"zip_file_path": archive}, [])
    counts = run([program, "list_zip_entry_with_first_block", job], trace_bytes=True)
    name = "list_zip_entry_with_first_block, 1,000 entries of 1 MiB"
    print(name)
    show_calls(counts, 1000, "entry")
    check(name, "bytes read per entry", counts.bytes_read / 1000, 24_000,
          "16 KiB answers while only an entry's start is wanted (the whole 385 KiB when answered in full)")
    check(name, "page faults per entry", counts.page_faults / 1000, 2,
          "each entry reuses the heap's buffers (a fresh mapping per entry cost 97)")
    check(name, "mmap + munmap per entry", counts.calls_of(("mmap", "munmap")) / 1000, 0.1,
          "nothing is mapped per entry")
    check(name, "calls per entry", counts.total_calls() / 1000, 6.5,
          "the local header in three reads, the data in one, two seeks")


def guard_list_zip_entry(program, data):
    archive = os.path.join(data, "list-50000.zip")
    make_archive(archive, 50000, 200)
    job = write_job(os.path.join(data, "list.job"), {"zip_file_path": archive}, [])
    counts = run([program, "list_zip_entry", job], trace_bytes=True)
    name = "list_zip_entry, 50,000 entries"
    print(name)
    show_calls(counts, 50000, "entry")
    check(name, "bytes read per entry", counts.bytes_read / 50000, 80,
          "the central directory only: about 60 bytes an entry")
    check(name, "calls per entry", counts.total_calls() / 50000, 0.02,
          "the archive is read in large blocks, not per entry")
    check(name, "peak memory, MiB", counts.peak_kib / 1024, 28,
          "the engine's item table, about 0.3 KiB an entry; the listing holds one entry at a time")


def peak_kib(argv):
    """The peak memory of one run, started by GNU time (see run)."""
    with tempfile.NamedTemporaryFile("r") as usage:
        subprocess.run(["/usr/bin/time", "-q", "-f", "%M", "-o", usage.name, *argv], stdout=subprocess.DEVNULL,
                       check=True)
        return int(usage.read().split()[-1])


def guard_million_entries(program, data):
    """Memory follows the job, not the archive: listing 1,000,000 entries
    costs what `7z l` costs, and extracting 1,000 of them what the listing
    costs."""
    archive = os.path.join(data, "list-1000000.zip")
    make_archive(archive, 1_000_000, 10, name="f{:07}.txt")
    out = os.path.join(data, "extracted-million")
    listing = write_job(os.path.join(data, "list-million.job"), {"zip_file_path": archive}, [])
    extraction = write_job(os.path.join(data, "extract-million.job"),
                           {"zip_file_path": archive, "output_base_dir_path": out},
                           [(uuid_of(n), f"f{n * 997:07}.txt", f"{n}.txt") for n in range(1000)])
    seven_zip = peak_kib(["7z", "l", archive])
    listed = peak_kib([program, "list_zip_entry", listing])
    clean(out)
    extracted = peak_kib([program, "extract_from_zip", extraction])
    clean(out)
    name = "1,000,000 entries: peak memory"
    print(f"{name}: 7z l {seven_zip // 1024} MiB, list_zip_entry {listed // 1024} MiB, "
          f"extract_from_zip of 1,000 {extracted // 1024} MiB")
    check(name, "list_zip_entry / 7z l", listed / seven_zip, 1.2,
          "the engine's item table; the listing holds one entry at a time (measured 1.01)")
    check(name, "extract_from_zip / list_zip_entry", extracted / listed, 1.2,
          "one open archive and 16 bytes an item for lookups (measured 1.09)")


def guard_existence(program, data):
    tree = os.path.join(data, "tree-100k")
    make_tree(tree, 100000, lambda n: b"x" * (n % 200))
    records = 1_000_000
    for title, directory_of in (
            ("below a directory missing up to /", lambda n: f"/razadedezuzev-cost-missing/d{n % 1000}"),
            ("of missing files in existing directories", lambda n: f"{tree}/a{n % 10}/b{n // 10 % 10}")):
        slug = "root" if "up to" in title else "files"
        job = write_job(os.path.join(data, f"existence-{slug}.job"), {},
                        ((uuid_of(n), directory_of(n), f"gone{n}.bin", "1") for n in range(records)))
        counts = run([program, "test_file_existence", job])
        name = f"test_file_existence, 1,000,000 records {title}"
        print(name)
        show_calls(counts, records, "record")
        check(name, "calls per record", counts.total_calls() / records, 1.01,
              "one status query a record, whatever is missing; each directory is opened once")
        check(name, "peak memory, MiB", counts.peak_kib / 1024, 16,
              "the job is read again a block at a time: the last 16 blocks of 1,024 records")


def guard_list_files(program, data):
    tree = os.path.join(data, "tree-100k")
    make_tree(tree, 100000, lambda n: b"x" * (n % 200))
    job = write_job(os.path.join(data, "list-files.job"), {"dir_path": tree}, [])
    counts = run([program, "list_files", job])
    name = "list_files, 100,000 files in 1,111 directories"
    print(name)
    show_calls(counts, 100000, "file")
    check(name, "calls per file", counts.total_calls() / 100000, 1.2,
          "one status query a file, and a few calls to open and read each directory")
    check(name, "peak memory, MiB", counts.peak_kib / 1024, 8, "the walk holds one directory's entries at a time")


def small_store_jobs(data):
    tree = os.path.join(data, "tree-20k")
    make_tree(tree, SMALL_FILES, lambda n: random.Random(n).randbytes(SMALL_SIZE))
    names = tree_names(SMALL_FILES)
    store, copy = os.path.join(data, "store-20k"), os.path.join(data, "copy-20k")
    to_job = write_job(os.path.join(data, "to-store.job"), {"input_base_dir_path": tree},
                       ((uuid_of(n), names[n], store, "1") for n in range(SMALL_FILES)))
    multiple_job = write_job(os.path.join(data, "to-store-multiple.job"), {},
                             ((uuid_of(n), os.path.join(tree, os.path.dirname(names[n])),
                               os.path.basename(names[n]), store, "3") for n in range(SMALL_FILES)))
    from_job = write_job(os.path.join(data, "from-store.job"), {"output_base_dir_path": copy},
                         ((uuid_of(n), names[n], store, "1") for n in range(SMALL_FILES)))
    return store, copy, to_job, multiple_job, from_job


def guard_small_files(program, data):
    store, copy, to_job, multiple_job, from_job = small_store_jobs(data)
    files = SMALL_FILES
    into_store = {"calls": (12, "status of source, directory, name and copy, two opens and closes, read, write, link: 11"),
                  "read": (SMALL_SIZE + 32, "each source once, and its line of the job"),
                  "written": (SMALL_SIZE + 100, "each file once, and its result line (80 bytes)"),
                  "peak": (24, "a window of finished copies and their descriptors, not the job, sets it")}
    out_of_store = {"calls": (10, "status of stored file, directory and name, two opens and closes, a copy in the kernel, link: 9"),
                    "read": (32, "the job's line only: the data moves inside the kernel"),
                    "written": (SMALL_SIZE + 8, "each file once, no result line"),
                    "peak": (16, "a window of finished copies and their descriptors, not the job, sets it")}
    for mode, job, layout, bounds in (
            ("batch_copy_to_resource_store", to_job, "two levels", into_store),
            ("batch_copy_to_resource_store_from_multiple_directories", multiple_job, "three levels", into_store),
            ("batch_copy_from_resource_store", from_job, "out of the store", out_of_store)):
        if mode == "batch_copy_from_resource_store":
            clean(store, copy)
            subprocess.run([program, "batch_copy_to_resource_store", to_job], check=True,
                           stdout=subprocess.DEVNULL)
        target = copy if mode == "batch_copy_from_resource_store" else store
        counts = run([program, mode, job], trace_bytes=True, fresh=target)
        name = f"{mode}, {files:,} files of 4 KiB ({layout})"
        print(name)
        show_calls(counts, files, "file")
        check(name, "calls per file", counts.total_calls() / files, *bounds["calls"])
        # Loose, as it follows the threads' timing, but far below a handover per file.
        check(name, "futex per file", counts.calls_of(THREAD_CALLS) / files, 0.5,
              "a small file is hashed by the thread that copies it (a handover cost 4.4); "
              "a thread is woken for every 8 syncs waiting (for each: 1-2.7)")
        check_syncs(name, counts, jobs.destinations(mode, job), target)
        # The job's lines are as long as the paths of the machine that runs
        # this; a job of more than 16 blocks of 1,024 records is read twice.
        line = os.path.getsize(job) / files
        bound, reason = bounds["read"]
        check(name, "bytes read per file", counts.bytes_read / files, bound + 2 * line,
              f"{reason} ({line:.0f} bytes, read twice)")
        check(name, "bytes written per file", counts.bytes_written / files, *bounds["written"])
        check(name, "peak memory, MiB", counts.peak_kib / 1024, *bounds["peak"])
    clean(store, copy)


def guard_big_file(program, data):
    big = os.path.join(data, "big-1GiB.bin")
    if not os.path.exists(big) or os.path.getsize(big) != 1 << 30:
        with open(big, "wb") as out:
            for _ in range(1024):
                out.write(os.urandom(1 << 20))
    store = os.path.join(data, "store-big")
    job = write_job(os.path.join(data, "big.job"), {"input_base_dir_path": data},
                    [(uuid_of(0), os.path.basename(big), store, "1")])
    counts = run([program, "batch_copy_to_resource_store", job], trace_bytes=True, fresh=store)
    name = "batch_copy_to_resource_store, one file of 1 GiB"
    print(name)
    check(name, "peak memory, MiB", counts.peak_kib / 1024, 20,
          "a fixed pipeline of hash buffers, whatever the file's size")
    check(name, "bytes read / file size", counts.bytes_read / (1 << 30), 1.001, "the source is read once")
    check(name, "bytes written / file size", counts.bytes_written / (1 << 30), 1.001, "the copy is written once")
    clean(store)


def guard_extraction(program, data):
    archive = os.path.join(data, "extract-2000x64KiB.zip")
    make_archive(archive, 2000, 64 << 10)
    out, store = os.path.join(data, "extracted"), os.path.join(data, "store-zip")
    cases = (
        ("extract_from_zip", out, write_job(
            os.path.join(data, "extract.job"), {"zip_file_path": archive, "output_base_dir_path": out},
            ((uuid_of(n), f"f{n:05}.txt", f"d{n % 20}/f{n:05}.txt") for n in range(2000)))),
        ("extract_from_zip_to_resource_store", store, write_job(
            os.path.join(data, "extract-store.job"), {"zip_file_path": archive},
            ((uuid_of(n), f"f{n:05}.txt", "unused", store, "1") for n in range(2000)))),
    )
    bounds = {"extract_from_zip": (17, 32), "extract_from_zip_to_resource_store": (18, 36)}
    for mode, target, job in cases:
        counts = run([program, mode, job], trace_bytes=True, fresh=target)
        name = f"{mode}, 2,000 deflated entries of 64 KiB"
        print(name)
        show_calls(counts, 2000, "entry")
        calls, peak = bounds[mode]
        check(name, "calls per entry", counts.total_calls() / 2000, calls,
              "header and data reads, two seeks, status queries, an unnamed file, one write, "
              "write-back, link, close, the engine's buffer mapped: 15 (16 with the store's directory)")
        check(name, "bytes read / archive size", counts.bytes_read / os.path.getsize(archive), 1.05,
              "each entry's data is read once, the central directory once")
        check(name, "bytes written per entry", counts.bytes_written / 2000, (64 << 10) + 100,
              "each entry is written once, with its result line")
        check(name, "peak memory, MiB", counts.peak_kib / 1024, peak,
              "two engines' buffers and a window of copies, not the job, set it")
        check_syncs(name, counts, jobs.destinations(mode, job), target)
        clean(target)


GUARDS = {
    "first-block": guard_first_block,
    "list-zip": guard_list_zip_entry,
    "million-entries": guard_million_entries,
    "existence": guard_existence,
    "list-files": guard_list_files,
    "small-files": guard_small_files,
    "big-file": guard_big_file,
    "extraction": guard_extraction,
}


def main():
    program, data = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    only = sys.argv[sys.argv.index("--only") + 1:] if "--only" in sys.argv else list(GUARDS)
    os.makedirs(data, exist_ok=True)
    for name in only:
        GUARDS[name](program, data)
    if failures:
        print(f"{len(failures)} count(s) over their bound:")
        for failure in failures:
            print(f"  {failure}")
        return 1
    print("every count within its bound")
    return 0


if __name__ == "__main__":
    sys.exit(main())
