#!/usr/bin/env python3
"""The store jobs done the plain way, with hashlib and shutil, as a peer for
the benchmark. Reads the same job files and writes the same result lines.

Usage: store_peer.py to_store JOB | from_store JOB
"""
import hashlib
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from jobs import read_job, stored_path  # noqa: E402

CHUNK = 65536


def to_store(job):
    parameters, records = read_job(job)
    base = parameters.get("input_base_dir_path", "")
    with open(job + ".out", "w") as out:
        for uuid, name, root, storage_type in records:
            destination = stored_path(root, uuid, storage_type)
            os.makedirs(os.path.dirname(destination), exist_ok=True)
            digest = hashlib.md5()
            with open(os.path.join(base, name), "rb") as source, open(destination, "xb") as target:
                while chunk := source.read(CHUNK):
                    digest.update(chunk)
                    target.write(chunk)
            out.write(f"file\t{uuid}\t{os.path.getsize(destination)}\t{digest.hexdigest()}\n")


def from_store(job):
    parameters, records = read_job(job)
    base = parameters.get("output_base_dir_path", "")
    for uuid, name, root, storage_type in records:
        destination = os.path.join(base, name)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(stored_path(root, uuid, storage_type), destination)


if __name__ == "__main__":
    {"to_store": to_store, "from_store": from_store}[sys.argv[1]](sys.argv[2])
