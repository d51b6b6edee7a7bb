#!/usr/bin/env python3
"""Writes one of the zip archives the zip tests read: make_test_archive.py KIND OUTPUT

Entries are written as if made on DOS/Windows (host system 0), so that the
archive's attribute bits (hidden 0x2, directory 0x10) reach the program the
way Windows archivers store them; the encrypted kinds come from the zip and
7z commands. Contents are fixed, so tests can state sizes and first bytes.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import warnings
import zipfile
import zlib

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
    "split_marker": [("five.txt", b"12345", FILE, STORED)],
    # Names that would forge or break result lines.
    "hostile": [("evil\nfile\tforged.txt\t999\t1\t0", b"x", FILE, STORED), ("tab\there.txt", b"y", FILE, STORED),
                ("ok.txt", b"ok", FILE, STORED)],
}


# Names as the zip and 7z commands store them, made under a UTF-8 locale:
# Info-ZIP writes the UTF-8 bytes without the UTF-8 mark, 7-Zip with it.
TOOL_NAMES = {"café ü.txt": b"cafe\n", "日本/東京.txt": b"tokyo\n"}
# The zip64 form, and an archive behind a program stub (offsets not
# adjusted), must not change how names are read.
TOOLS = {"infozip_names": ["zip", "-qr"], "infozip_zip64": ["zip", "-qr", "-fz"],
         "infozip_behind_stub": ["zip", "-qr"], "sevenzip_names": ["7z", "a", "-bd", "-tzip"]}


def unicode_path(raw, text, crc_matches=True):
    """An Info-ZIP Unicode Path field (0x7075) naming `text`."""
    body = b"\x01" + struct.pack("<I", zlib.crc32(raw) ^ (0 if crc_matches else 1)) + text.encode()
    return struct.pack("<HH", 0x7075, len(body)) + body


# Names stored as legacy tools store them, without the UTF-8 mark:
# (stored bytes, made-by host (0 DOS, 3 Unix), extra field).
LEGACY_NAMES = [
    (b"\x91o\x86.txt", 0, b""),                # "æoå" in code page 437; no text in 932
    (b"\x95\x5c\x8e\xa6.txt", 0, b""),         # "表示" in 932, whose first character ends in 0x5C
    (b"RAW.TXT", 0, unicode_path(b"RAW.TXT", "ünïcode.txt")),
    (b"\x91.TXT", 0, unicode_path(b"\x91.TXT", "stale.txt", crc_matches=False)),
    (b"caf\xc3\xa9.txt", 3, b""),               # UTF-8 from Unix
    (b"\xc3\xa9-dos.txt", 0, b""),              # bytes that would be UTF-8, but from DOS
    (b"x\xe9.txt", 3, b""),                      # not UTF-8, though from Unix
]


def write_legacy_names(path):
    """Stored entries, written byte by byte: no library writes such names."""
    out, central = bytearray(), bytearray()
    for n, (name, host, extra) in enumerate(LEGACY_NAMES):
        data, offset = b"%d\n" % n, len(out)
        fields = (20, 0, 0, 0, 0x21, zlib.crc32(data), len(data), len(data), len(name), len(extra))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, *fields) + name + extra + data
        central += (struct.pack("<IH", 0x02014B50, host << 8 | 20) + struct.pack("<HHHHHIIIHH", *fields) +
                    struct.pack("<HHHII", 0, 0, 0, FILE, offset) + name + extra)
    out += central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(LEGACY_NAMES), len(LEGACY_NAMES),
                                 len(central), len(out), 0)
    with open(path, "wb") as archive:
        archive.write(out)


def damage(kind, path):
    with open(path, "r+b") as raw:
        content = raw.read()
        if kind == "crc_error":  # one byte of the stored data changed
            raw.seek(content.index(b"0123456789abcdef" * 64) + 100)
            raw.write(b"X")
        elif kind == "truncated":  # cut in the deflated data; no central directory
            raw.truncate(len(content) // 2)
        elif kind == "split_marker":  # the mark that starts the first part of a split archive
            raw.seek(0)
            raw.write(b"PK\x07\x08" + content)


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
    if kind == "legacy_names":
        return write_legacy_names(path)
    if kind in TOOLS:
        with tempfile.TemporaryDirectory() as source:
            for name, data in TOOL_NAMES.items():
                os.makedirs(os.path.join(source, os.path.dirname(name)), exist_ok=True)
                with open(os.path.join(source, name), "wb") as out:
                    out.write(data)
            subprocess.run(TOOLS[kind] + [os.path.abspath(path), "."], cwd=source, check=True,
                           stdout=subprocess.DEVNULL, env=dict(os.environ, LC_ALL="C.UTF-8"))
        if kind == "infozip_behind_stub":
            with open(path, "rb") as archive:
                content = archive.read()
            with open(path, "wb") as archive:
                archive.write(b"MZ" + random.Random(5).randbytes(4094) + content)
        return
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
