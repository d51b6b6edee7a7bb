#!/usr/bin/env python3
"""The zip modes against unzip, 7z and zipinfo, side by side in one run.

Usage: zip_bench.py PROGRAM DATA_DIR RUNS

Archives are generated once into DATA_DIR and kept. Every comparison runs its
commands interleaved after one warm-up round, so that all of them see the
same page cache and machine load, and prints median wall times and ratios
(program / peer; below 1.0 the program is faster). Output directories are
emptied before each run, outside the timed part.
"""
import os
import random
import shutil
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from compare import measure, print_comparison  # noqa: E402
from jobs import uuid_of, write_job  # noqa: E402


def text_block(size, seed):
    generator = random.Random(seed)
    words = [generator.randbytes(generator.randint(2, 9)).hex().encode() for _ in range(3000)]
    out = bytearray()
    while len(out) < size:
        out += generator.choice(words) + b" "
    return bytes(out[:size])


def make_archive(path, count, entry_size, method=zipfile.ZIP_DEFLATED, name="f{:05}.txt"):
    """`count` entries of `entry_size` bytes of text-like data, each a
    different rotation of one block, so that no two entries are equal."""
    if os.path.exists(path):
        return
    block = text_block(max(entry_size, 1 << 16) * 2, 1)
    with zipfile.ZipFile(path + ".part", "w", method, compresslevel=6) as archive:
        for i in range(count):
            start = (i * 7919) % (len(block) - entry_size + 1)
            archive.writestr(name.format(i), block[start:start + entry_size])
    os.rename(path + ".part", path)


def extract_job(path, archive, out, count):
    write_job(path, [("zip_file_path", archive), ("output_base_dir_path", out)] +
              [("file", uuid_of(i, spread=True), f"f{i:05}.txt", f"f{i:05}.txt") for i in range(count)])


def compare(title, runs, commands):
    """commands: (name, shell command, directory to empty before each run or None)."""
    medians, peaks = measure(runs, [
        # Each run starts with nothing left for the disk to write: a run that
        # syncs what it wrote must not also pay for what the one before left.
        (name, f"rm -rf {scratch} && mkdir -p {scratch} && sync" if scratch else None, command)
        for name, command, scratch in commands])
    print_comparison(title, runs, medians, peaks)
    return medians


def goal(text, value, most):
    """A ratio, with its goal where it has one (at most `most`)."""
    verdict = "" if most is None else f"   (goal <= {most}) " + ("met" if value <= most else "MISSED")
    print(f"  {text:<52} {value:6.2f}{verdict}")


def main():
    program, data, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(data, exist_ok=True)
    out = os.path.join(data, "out")

    # 1. Every entry of 2,000 deflated entries, about 500 MB uncompressed.
    big = os.path.join(data, "extract-2000x250k.zip")
    make_archive(big, 2000, 250 * 1000)
    job = os.path.join(data, "extract-all.job")
    extract_job(job, big, out, 2000)
    medians = compare("extract_from_zip, 2,000 deflated entries (500 MB)", runs, [
        ("razadedezuzev extract_from_zip", f"{program} extract_from_zip {job}", out),
        ("7z x && sync -f", f"7z x -bd -y -o{out} {big} > /dev/null && sync -f {out}", out),
        ("unzip -q && sync -f", f"unzip -q {big} -d {out} && sync -f {out}", out),
        ("the same, syncing off", f"NUV_RAZADEDEZUZEV_SYNC=0 {program} extract_from_zip {job}", out),
        ("7z x", f"7z x -bd -y -o{out} {big} > /dev/null", out),
        ("unzip -q", f"unzip -q {big} -d {out}", out),
    ])
    durable = medians["razadedezuzev extract_from_zip"]
    goal("durable: time program / (7z x && sync -f)", durable / medians["7z x && sync -f"], 0.8)
    goal("durable: time program / (unzip -q && sync -f)", durable / medians["unzip -q && sync -f"], None)
    goal("syncing off: time program / 7z x", medians["the same, syncing off"] / medians["7z x"], None)

    # 2. Listing 50,000 entries.
    many = os.path.join(data, "list-50000.zip")
    make_archive(many, 50000, 200)
    job = os.path.join(data, "list.job")
    write_job(job, [("zip_file_path", many)])
    compare("list_zip_entry, 50,000 entries", runs, [
        ("razadedezuzev list_zip_entry", f"{program} list_zip_entry {job}", None),
        ("7z l", f"7z l {many} > /dev/null", None),
        ("zipinfo", f"zipinfo {many} > /dev/null", None),
    ])

    # 3. First blocks of 1,000 entries of 1 MiB against extracting them all.
    mib = os.path.join(data, "firstblock-1000x1MiB.zip")
    make_archive(mib, 1000, 1 << 20)
    list_job = os.path.join(data, "firstblock.job")
    write_job(list_job, [("zip_file_path", mib)])
    all_job = os.path.join(data, "firstblock-extract.job")
    extract_job(all_job, mib, out, 1000)
    medians = compare("list_zip_entry_with_first_block, 1,000 entries of 1 MiB", runs, [
        ("razadedezuzev first-block listing",
         f"{program} list_zip_entry_with_first_block {list_job}", None),
        ("razadedezuzev extract_from_zip (all)", f"{program} extract_from_zip {all_job}", out),
        ("7z x (all)", f"7z x -bd -y -o{out} {mib} > /dev/null", out),
    ])
    goal("first blocks / a full 7z x", medians["razadedezuzev first-block listing"] / medians["7z x (all)"], 0.05)

    # 4. Time per record with 1,000 and 10,000 records of a 10,000-entry archive.
    tenk = os.path.join(data, "records-10000.zip")
    make_archive(tenk, 10000, 1000)
    medians = {}
    for count in (1000, 10000):
        job = os.path.join(data, f"records-{count}.job")
        extract_job(job, tenk, out, count)
        medians[count] = compare(f"extract_from_zip, {count:,} records of a 10,000-entry archive",
                                 runs, [("razadedezuzev", f"{program} extract_from_zip {job}", out)])
    per_record = {count: medians[count]["razadedezuzev"] / count for count in medians}
    print(f"== time per record: {per_record[1000] * 1e6:.1f} us (1,000 records), "
          f"{per_record[10000] * 1e6:.1f} us (10,000 records), "
          f"ratio {per_record[10000] / per_record[1000]:.2f}")
    shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
