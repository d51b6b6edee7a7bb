#!/usr/bin/env python3
"""Writes one of the zip archives the zip tests read.

Usage: make_test_archive.py KIND OUTPUT

Entries are written as if made on DOS/Windows (host system 0), so that the
archive's attribute bits (hidden 0x2, directory 0x10) reach the program the
way Windows archivers store them. Contents are fixed, so tests can state
sizes and first bytes.
"""
import random
import sys
import warnings
import zipfile

# Duplicate names are written on purpose.
warnings.filterwarnings("ignore", "Duplicate name")

STAMP = (2024, 1, 2, 3, 4, 6)
ARCHIVE = 0x20
HIDDEN = 0x2
DIRECTORY = 0x10


def entry(archive, name, data=b"", attributes=ARCHIVE, method=zipfile.ZIP_STORED):
    info = zipfile.ZipInfo(name, STAMP)
    info.create_system = 0
    info.external_attr = attributes
    info.compress_type = method
    archive.writestr(info, data)


def counting_bytes(size):
    return bytes(i % 251 for i in range(size))


def text_bytes(size, seed):
    generator = random.Random(seed)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"zip", b"entry", b"store", b"\n"]
    out = bytearray()
    while len(out) < size:
        out += generator.choice(words) + b" "
    return bytes(out[:size])


def mixed(path):
    """Stored and deflated files, directories, a hidden file, duplicates,
    non-ASCII names (one beyond the basic plane), names with backslashes and
    an empty file."""
    with zipfile.ZipFile(path, "w") as archive:
        entry(archive, "stored.txt", b"hello, stored entry\n")
        entry(archive, "deflated.bin", counting_bytes(1000), method=zipfile.ZIP_DEFLATED)
        entry(archive, "dir/", attributes=DIRECTORY)
        entry(archive, "dir/inner.txt", b"inner\n", method=zipfile.ZIP_DEFLATED)
        entry(archive, "docs\\img", attributes=DIRECTORY)
        entry(archive, "docs\\img\\photo.txt", b"photo")
        entry(archive, "hidden.txt", b"not listed\n", attributes=ARCHIVE | HIDDEN)
        entry(archive, "empty.dat", b"")
        entry(archive, "five.txt", b"12345")
        entry(archive, "dup.txt", b"first copy\n")
        entry(archive, "Grüße/日本語.txt", "ünïcödé\n".encode())
        entry(archive, "smile-\U0001F600.txt", b":)")
        entry(archive, "dup.txt", b"second copy, the one found\n")


def only_directories_and_hidden(path):
    with zipfile.ZipFile(path, "w") as archive:
        entry(archive, "a/", attributes=DIRECTORY)
        entry(archive, "a/b/", attributes=DIRECTORY)
        entry(archive, "a/secret.txt", b"hidden", attributes=ARCHIVE | HIDDEN)


def empty(path):
    with zipfile.ZipFile(path, "w"):
        pass


def big_text(size):
    # Rotations of one random text block: as compressible as text, and quick
    # to make.
    block = text_bytes(1 << 20, 7)
    pieces = []
    total = 0
    shift = 0
    while total < size:
        pieces.append(block[shift:] + block[:shift])
        total += len(block)
        shift = (shift + 7919) % len(block)
    return b"".join(pieces)[:size]


def big(path):
    """A 50 MB deflated entry between two small ones."""
    with zipfile.ZipFile(path, "w") as archive:
        entry(archive, "before.txt", b"before\n")
        entry(archive, "big.txt", big_text(50 * 1000 * 1000), method=zipfile.ZIP_DEFLATED)
        entry(archive, "after.txt", b"after\n")


def crc_error(path):
    """A stored entry whose data no longer matches its checksum."""
    data = b"0123456789abcdef" * 64
    with zipfile.ZipFile(path, "w") as archive:
        entry(archive, "good.txt", b"good\n")
        entry(archive, "damaged.txt", data)
    with open(path, "r+b") as raw:
        content = raw.read()
        where = content.index(data) + 100
        raw.seek(where)
        raw.write(b"X")


KINDS = {
    "mixed": mixed,
    "only_directories_and_hidden": only_directories_and_hidden,
    "empty": empty,
    "big": big,
    "crc_error": crc_error,
}

if __name__ == "__main__":
    KINDS[sys.argv[1]](sys.argv[2])
