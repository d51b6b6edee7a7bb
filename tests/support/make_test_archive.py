#!/usr/bin/env python3
"""Writes one of the zip archives the zip tests read: make_test_archive.py KIND OUTPUT

Entries are written as if made on DOS/Windows (host system 0), so that the
archive's attribute bits (hidden 0x2, directory 0x10) reach the program the
way Windows archivers store them; the encrypted kinds come from the zip and
7z commands. Contents are fixed, so tests can state sizes and first bytes.
"""
import os
import random
import subprocess
import sys
import tempfile
import warnings
import zipfile

warnings.filterwarnings("ignore", "Duplicate name")  # written on purpose
FILE, HIDDEN, DIRECTORY = 0x20, 0x22, 0x10
STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED


def text(size, seed=7):
    words = [b"alpha ", b"beta ", b"gamma ", b"zip ", b"entry\n", b"store "]
    return b"".join(words[(i * seed + i // 7) % len(words)] for i in range(size // 4))[:size]


# Each kind: (name, data, attributes, method) in item order.
KINDS = {
    "mixed": [
        ("stored.txt", b"hello, stored entry\n", FILE, STORED),
        ("deflated.bin", bytes(i % 251 for i in range(1000)), FILE, DEFLATED),
        ("dir/", b"", DIRECTORY, STORED),
        ("dir/inner.txt", b"inner\n", FILE, DEFLATED),
        ("docs\\img", b"", DIRECTORY, STORED),
        ("docs\\img\\photo.txt", b"photo", FILE, STORED),
        ("hidden.txt", b"not listed\n", HIDDEN, STORED),
        ("empty.dat", b"", FILE, STORED),
        ("five.txt", b"12345", FILE, STORED),
        ("dup.txt", b"first copy\n", FILE, STORED),
        ("Grüße/日本語.txt", "ünïcödé\n".encode(), FILE, STORED),
        ("smile-\U0001F600.txt", b":)", FILE, STORED),
        ("dup.txt", b"second copy, the one found\n", FILE, STORED),
    ],
    "only_directories_and_hidden": [
        ("a/", b"", DIRECTORY, STORED), ("a/b/", b"", DIRECTORY, STORED),
        ("a/secret.txt", b"hidden", HIDDEN, STORED)],
    "empty": [],
    # Damaged after writing: see DAMAGE.
    "crc_error": [("good.txt", b"good\n", FILE, STORED), ("damaged.txt", b"0123456789abcdef" * 64, FILE, STORED)],
    "truncated": [("good.txt", b"good\n", FILE, STORED), ("cut.txt", text(200000, 3), FILE, DEFLATED)],
    # Names that would forge or break result lines.
    "hostile": [("evil\nfile\tforged.txt\t999\t1\t0", b"x", FILE, STORED), ("tab\there.txt", b"y", FILE, STORED),
                ("ok.txt", b"ok", FILE, STORED)],
}


def damage(kind, path):
    with open(path, "r+b") as raw:
        content = raw.read()
        if kind == "crc_error":  # one byte of the stored data changed
            raw.seek(content.index(b"0123456789abcdef" * 64) + 100)
            raw.write(b"X")
        elif kind == "truncated":  # cut in the deflated data; no central directory
            raw.truncate(len(content) // 2)


# Encrypted by the zip and 7z commands: secret.bin, 1,000 bytes, password "secret".
ENCRYPTING = {"zipcrypto": ["zip", "-q", "-P", "secret"], "aes": ["7z", "a", "-bd", "-tzip", "-psecret", "-mem=AES256"]}


def empty_password_passes_check(path):
    """Whether the last byte of the encryption header, decrypted with an empty
    password, equals the check byte (as in the zipfile module)."""
    with zipfile.ZipFile(path) as archive:
        info = archive.getinfo("secret.bin")
        with open(path, "rb") as raw:
            raw.seek(info.header_offset + 26)
            name_length, extra_length = int.from_bytes(raw.read(2), "little"), int.from_bytes(raw.read(2), "little")
            raw.seek(name_length + extra_length, 1)
            header = raw.read(12)
    decrypt = zipfile._ZipDecrypter(b"")
    check = (info._raw_time >> 8) & 0xFF if info.flag_bits & 0x8 else (info.CRC >> 24) & 0xFF
    return decrypt(header)[11] == check


def main(kind, path):
    if kind in ENCRYPTING:
        with tempfile.TemporaryDirectory() as source:
            with open(os.path.join(source, "secret.bin"), "wb") as secret:
                secret.write(random.Random(42).randbytes(1000))
            # The ZipCrypto archive is made until an empty password passes its
            # check (one time in 256): a reader that tries one would get bytes
            # that are not the content.
            while True:
                if os.path.exists(path):
                    os.remove(path)
                subprocess.run(ENCRYPTING[kind] + [os.path.abspath(path), "secret.bin"], cwd=source, check=True,
                               stdout=subprocess.DEVNULL)
                if kind != "zipcrypto" or empty_password_passes_check(path):
                    return
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, attributes, method in KINDS[kind]:
            info = zipfile.ZipInfo(name, (2024, 1, 2, 3, 4, 6))
            info.create_system, info.external_attr, info.compress_type = 0, attributes, method
            archive.writestr(info, data)
    damage(kind, path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
