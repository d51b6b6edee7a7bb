#!/usr/bin/env python3
"""Cost per record as the job grows: 10, 1,000, 100,000 and 1,000,000
records of test_file_existence and of batch_copy_to_resource_store (small
files), with time and peak memory per record.

Usage: scaling_bench.py PROGRAM DATA_DIR RUNS

Neither may grow faster than linearly: the time per record of the largest job
is printed against that of the 1,000-record job. Memory must follow the batch,
not the job: the peak of the largest job is printed against that of the
1,000-record job. The copies into the store run durable (the default), each
on a store made afresh; the largest copy job runs once (it stores a million
files).
"""
import itertools
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from compare import measure  # noqa: E402
from jobs import uuid_of, write_kept_job  # noqa: E402

SIZES = (10, 1000, 100000, 1000000)
POOL = 10000  # source files, shared by the records of the larger jobs


def make_pool(tree):
    """POOL files of 1 KiB in 100 directories, half of them named in jobs
    that look for them and half missing."""
    done = tree + ".done"
    if not os.path.exists(done):
        for n in range(POOL):
            directory = os.path.join(tree, f"d{n // 100:02}")
            os.makedirs(directory, exist_ok=True)
            with open(os.path.join(directory, f"f{n:05}"), "wb") as out:
                out.write(os.urandom(1024))
        open(done, "w").close()


def row(name, count, seconds, peak_kib):
    print(f"  {name:<30} {count:>9,} records  {seconds:8.3f} s  {seconds / count * 1e6:9.2f} us/record"
          f"  peak {peak_kib / 1024:7.1f} MiB  {peak_kib * 1024 / count:10.1f} bytes/record")


def report(title, results):
    print(f"== {title}")
    for count, (seconds, peak) in results.items():
        row(title.split(",")[0], count, seconds, peak)
    small, large = results[1000], results[max(results)]
    print(f"  time per record, {max(results):,} / 1,000 records: {large[0] / max(results) / (small[0] / 1000):.2f}"
          f"   (at most 1.0: no faster than linear)")
    print(f"  peak memory, {max(results):,} / 1,000 records: {large[1] / small[1]:.2f}"
          f"   (bounded by the batch: about 1)")
    sys.stdout.flush()


def main():
    program, data, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(data, exist_ok=True)
    tree = os.path.join(data, "pool")
    make_pool(tree)

    existence = {}
    for count in SIZES:
        job = write_kept_job(os.path.join(data, f"exists-{count}.job"), (
            ("file", uuid_of(n, spread=True), f"{tree}/d{n % POOL // 100:02}",
             f"{'f' if n % 2 else 'g'}{n % POOL:05}", "1") for n in range(count)))
        medians, peaks = measure(runs, [("existence", None, f"{program} test_file_existence {job}")])
        existence[count] = (medians["existence"], peaks["existence"])
    report("test_file_existence, half the files missing", existence)

    store = os.path.join(data, "store")
    copies = {}
    for count in SIZES:
        records = (("file", uuid_of(n, spread=True), f"d{n % POOL // 100:02}/f{n % POOL:05}", store, "1")
                   for n in range(count))
        job = write_kept_job(os.path.join(data, f"store-{count}.job"),
                             itertools.chain([("input_base_dir_path", tree)], records))
        medians, peaks = measure(1 if count >= 1000000 else runs, [
            ("store", f"rm -rf {store}; sync", f"{program} batch_copy_to_resource_store {job}")],
            stop_on_failure=True)
        copies[count] = (medians["store"], peaks["store"])
    subprocess.call(["rm", "-rf", store])
    report("batch_copy_to_resource_store, files of 1 KiB, durable", copies)


if __name__ == "__main__":
    main()
