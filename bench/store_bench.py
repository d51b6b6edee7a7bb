#!/usr/bin/env python3
"""The store modes against their peers, side by side in one run.

Usage: store_bench.py PROGRAM DATA_DIR RUNS

Every command runs interleaved with its peers after one warm-up round, with an
untimed set-up before each run: the previous run's copies are removed (the
thousands of small files are moved aside instead: on ext4, creating files
right after deleting thousands costs a search past every recently deleted
inode, for whichever command comes next) and everything is flushed to disk, so that no run pays for another's
write-back. The moved copies are deleted at the end. Prints median wall
times, peak memory and each ratio with its goal. The durable run (the
default) is compared with peers that also wait for the disk; the run with
syncing off with the plain peers.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from compare import measure as compare_measure  # noqa: E402
from jobs import stored_path, uuid_of, write_job  # noqa: E402

PEER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers", "store_peer.py")
SMALL_FILES, SMALL_SIZE, SMALL_DIRECTORIES = 20000, 4096, 20


def measure(runs, commands):
    return compare_measure(runs, commands, stop_on_failure=True)


def set_aside(trash, *paths):
    """A set-up that moves the paths into the trash directory, then syncs."""
    moves = "; ".join(f'[ ! -e {path} ] || mv {path} {trash}/$(date +%s%N)' for path in paths)
    return f"mkdir -p {trash}; {moves}; sync"


def report(title, medians, peaks):
    print(f"== {title}")
    for name, seconds in medians.items():
        print(f"  {name:<34} {seconds:8.3f} s   peak RSS {peaks[name] / 1024:7.1f} MiB")


def make_file(path, size):
    if not os.path.exists(path) or os.path.getsize(path) != size:
        with open(path, "wb") as target:
            for _ in range(0, size, 1 << 20):
                target.write(os.urandom(min(1 << 20, size)))


def make_small_tree(tree):
    names = [f"d{i // (SMALL_FILES // SMALL_DIRECTORIES):02}/f{i:05}" for i in range(SMALL_FILES)]
    if not os.path.exists(os.path.join(tree, names[-1])):
        for name in names:
            os.makedirs(os.path.join(tree, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(tree, name), "wb") as target:
                target.write(os.urandom(SMALL_SIZE))
    return names


def goal(text, value, target, met=None):
    """A ratio with its goal; `met` tells whether the value meets it."""
    verdict = "" if met is None else ("  met" if met else "  MISSED")
    print(f"  {text:<66} {value:6.2f}   (goal {target}){verdict}")


def big_file(program, data, runs):
    big, small = os.path.join(data, "big.bin"), os.path.join(data, "64_mib.bin")
    make_file(big, 1 << 30)
    make_file(small, 64 << 20)  # past the largest copy buffers
    store, copy = os.path.join(data, "big_store"), os.path.join(data, "big_copy")
    for name, source in (("big", big), ("small", small)):
        record = ("file", uuid_of(1, spread=True), os.path.basename(source), store, "1")
        write_job(os.path.join(data, f"{name}.job"), [("input_base_dir_path", data), record])
    write_job(os.path.join(data, "big_out.job"),
              [("output_base_dir_path", copy), ("file", uuid_of(1, spread=True), "copy.bin", store, "1")])
    # One file each: deleting it costs no search later (see set_aside).
    clean = f"rm -rf {store} {copy}; mkdir -p {copy}; sync"
    medians, peaks = measure(runs, [
        ("program, 1 GiB into the store", clean,
         f"{program} batch_copy_to_resource_store {data}/big.job"),
        ("md5sum && cp && sync -f", clean, f"md5sum {big} && cp {big} {copy}/ && sync -f {copy}"),
        ("program, syncing off", clean,
         f"NUV_RAZADEDEZUZEV_SYNC=0 {program} batch_copy_to_resource_store {data}/big.job"),
        ("program, syncing off, then sync -f", clean,
         f"NUV_RAZADEDEZUZEV_SYNC=0 {program} batch_copy_to_resource_store {data}/big.job && sync -f {data}"),
        ("openssl md5", clean, f"openssl md5 {big}"),
        ("md5sum && cp", clean, f"md5sum {big} && cp {big} {copy}/"),
        ("program, 64 MiB into the store", clean,
         f"{program} batch_copy_to_resource_store {data}/small.job"),
    ])
    report("one 1 GiB file into the store (page cache warm)", medians, peaks)
    durable = medians["program, 1 GiB into the store"]
    peer = medians["md5sum && cp && sync -f"]
    goal("durable: time program / (md5sum && cp && sync -f)", durable / peer, "<= 0.9", durable / peer <= 0.9)
    off = medians["program, syncing off"]
    goal("syncing off: throughput program / openssl md5", medians["openssl md5"] / off, ">= 1.0",
         medians["openssl md5"] / off >= 1.0)
    goal("syncing off: time program / (md5sum && cp)", off / medians["md5sum && cp"], "")
    goal("durable / (syncing off, then sync -f): the disk's share",
         durable / medians["program, syncing off, then sync -f"], "")
    difference = (peaks["program, 1 GiB into the store"] - peaks["program, 64 MiB into the store"]) / 1024
    goal("peak RSS 1 GiB - 64 MiB file, MiB (memory independent of size)", difference, "<= 1.0", difference <= 1.0)

    # The store as the program fills it, once: the 64 MiB run above left its
    # own file under the same uuid.
    subprocess.check_call(["/bin/bash", "-c", set_aside(os.path.join(data, "trash"), store) +
                           f" && {program} batch_copy_to_resource_store {data}/big.job"])
    clean_copy = f"rm -rf {copy}; mkdir -p {copy}; sync"
    stored = stored_path(store, uuid_of(1, spread=True), 1)
    medians, peaks = measure(runs, [
        ("program, 1 GiB out of the store", clean_copy,
         f"{program} batch_copy_from_resource_store {data}/big_out.job"),
        ("cp && sync -f", clean_copy, f"cp {stored} {copy}/copy.bin && sync -f {copy}"),
        ("rsync --fsync --ignore-existing", clean_copy,
         f"rsync --fsync --ignore-existing {stored} {copy}/copy.bin"),
        ("program, syncing off", clean_copy,
         f"NUV_RAZADEDEZUZEV_SYNC=0 {program} batch_copy_from_resource_store {data}/big_out.job"),
        ("cp", clean_copy, f"cp {stored} {copy}/copy.bin"),
    ])
    report("the 1 GiB file out of the store", medians, peaks)
    durable = medians["program, 1 GiB out of the store"]
    goal("durable: time program / (cp && sync -f)", durable / medians["cp && sync -f"], "")
    goal("durable: time program / rsync --fsync", durable / medians["rsync --fsync --ignore-existing"], "")
    goal("syncing off: time program / cp", medians["program, syncing off"] / medians["cp"], "")
    subprocess.check_call(["/bin/bash", "-c", set_aside(os.path.join(data, "trash"), store, copy)])


def small_files(program, data, runs):
    tree = os.path.join(data, "tree")
    names = make_small_tree(tree)
    store, copy = os.path.join(data, "small_store"), os.path.join(data, "tree_copy")
    records = [("file", uuid_of(n, spread=True), name, store, "1") for n, name in enumerate(names)]
    to_job = write_job(os.path.join(data, "to.job"), [("input_base_dir_path", tree), *records])
    from_job = write_job(os.path.join(data, "from.job"), [("output_base_dir_path", copy), *records])

    clean = set_aside(os.path.join(data, "trash"), store, copy)
    medians, peaks = measure(runs, [
        ("program, into the store", clean, f"{program} batch_copy_to_resource_store {to_job}"),
        ("rsync --fsync --ignore-existing", clean, f"rsync -r --fsync --ignore-existing {tree}/ {copy}"),
        ("cp -r && sync -f", clean, f"cp -r {tree} {copy} && sync -f {copy}"),
        ("program, syncing off", clean, f"NUV_RAZADEDEZUZEV_SYNC=0 {program} batch_copy_to_resource_store {to_job}"),
        ("program, syncing off, then sync -f", clean,
         f"NUV_RAZADEDEZUZEV_SYNC=0 {program} batch_copy_to_resource_store {to_job} && sync -f {data}"),
        ("cp -r", clean, f"cp -r {tree} {copy}"),
        ("python hashlib + shutil", clean, f"python3 {PEER} to_store {to_job}"),
    ])
    report(f"{SMALL_FILES} files of {SMALL_SIZE} bytes into the store", medians, peaks)
    durable = medians["program, into the store"]
    rsync = medians["rsync --fsync --ignore-existing"]
    goal("durable: time program / rsync --fsync", durable / rsync, "<= 0.8", durable / rsync <= 0.8)
    goal("durable: time program / (cp -r && sync -f)", durable / medians["cp -r && sync -f"], "<= 1.0",
         durable / medians["cp -r && sync -f"] <= 1.0)
    goal("durable / (syncing off, then sync -f): the disk's share",
         durable / medians["program, syncing off, then sync -f"], "")
    goal("syncing off: time program / cp -r", medians["program, syncing off"] / medians["cp -r"], "")
    goal("speed-up over python", medians["python hashlib + shutil"] / durable, "")

    subprocess.check_call(["/bin/bash", "-c", set_aside(os.path.join(data, "trash"), store) +
                           f" && {program} batch_copy_to_resource_store {to_job}"])
    clean_copy = set_aside(os.path.join(data, "trash"), copy)
    medians, peaks = measure(runs, [
        ("program, out of the store", clean_copy,
         f"{program} batch_copy_from_resource_store {from_job}"),
        ("rsync --fsync --ignore-existing", clean_copy, f"rsync -r --fsync --ignore-existing {tree}/ {copy}"),
        ("cp -r && sync -f", clean_copy, f"cp -r {tree} {copy} && sync -f {copy}"),
        ("program, syncing off", clean_copy,
         f"NUV_RAZADEDEZUZEV_SYNC=0 {program} batch_copy_from_resource_store {from_job}"),
        ("cp -r of the source tree", clean_copy, f"cp -r {tree} {copy}"),
        ("python shutil", clean_copy, f"python3 {PEER} from_store {from_job}"),
    ])
    report(f"the same {SMALL_FILES} files out of the store", medians, peaks)
    durable = medians["program, out of the store"]
    rsync = medians["rsync --fsync --ignore-existing"]
    goal("durable: time program / rsync --fsync", durable / rsync, "<= 0.8", durable / rsync <= 0.8)
    goal("durable: time program / (cp -r && sync -f)", durable / medians["cp -r && sync -f"], "")
    off = medians["program, syncing off"] / medians["cp -r of the source tree"]
    goal("syncing off: time program / cp -r", off, "<= 1.0", off <= 1.0)
    subprocess.check_call(["/bin/bash", "-c", set_aside(os.path.join(data, "trash"), store, copy)])


def main():
    program, data, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(data, exist_ok=True)
    try:
        big_file(program, data, runs)
        small_files(program, data, runs)
    finally:
        subprocess.call(["rm", "-rf", os.path.join(data, "trash")])


if __name__ == "__main__":
    main()
