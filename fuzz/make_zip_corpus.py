#!/usr/bin/env python3
"""Writes the small seed archives of the zip fuzzer into corpus/zip_archive.

Stored and deflated entries, a directory, an entry with the DOS hidden
attribute, a non-ASCII name, duplicate names, an empty archive, and entries
encrypted with ZipCrypto and AES (through the zip and 7z commands).
"""
import os
import subprocess
import sys
import tempfile
import zipfile

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "zip_archive")
os.makedirs(out, exist_ok=True)


def entry(name, compress, create_system=3, attributes=None):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
    info.compress_type = compress
    info.create_system = create_system
    if attributes is not None:
        info.external_attr = attributes
    return info


with zipfile.ZipFile(os.path.join(out, "mixed.zip"), "w") as archive:
    archive.writestr(entry("a.txt", zipfile.ZIP_STORED), b"hello, store\n")
    archive.writestr(entry("dir/", zipfile.ZIP_STORED), b"")
    archive.writestr(entry("dir/b.bin", zipfile.ZIP_DEFLATED), bytes(range(256)) * 8)
    archive.writestr(entry("hidden.txt", zipfile.ZIP_STORED, 0, 0x22), b"secret")
    archive.writestr(entry("caf\u00e9/\u65e5\u672c.txt", zipfile.ZIP_DEFLATED), b"x" * 100)
    archive.writestr(entry("empty", zipfile.ZIP_STORED), b"")

with zipfile.ZipFile(os.path.join(out, "duplicates.zip"), "w") as archive:
    archive.writestr(entry("same", zipfile.ZIP_STORED), b"first")
    archive.writestr(entry("same", zipfile.ZIP_DEFLATED), b"second" * 10)

with zipfile.ZipFile(os.path.join(out, "empty.zip"), "w"):
    pass

with tempfile.TemporaryDirectory() as work:
    source = os.path.join(work, "plain.txt")
    with open(source, "wb") as f:
        f.write(b"encrypted content " * 20)
    commands = [
        ["zip", "-q", "-j", "-P", "pw", os.path.join(out, "zipcrypto.zip"), source],
        ["7z", "a", "-bd", "-tzip", "-mem=AES256", "-ppw", os.path.join(out, "aes.zip"), source],
    ]
    for command in commands:
        target = command[-2]
        if os.path.exists(target):
            os.remove(target)
        if subprocess.call(command, stdout=subprocess.DEVNULL) != 0:
            sys.exit("failed: " + " ".join(command))
