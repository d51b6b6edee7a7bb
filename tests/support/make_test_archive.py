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


def unicode_path(raw, text, crc_matches=True, version=1):
    """An Info-ZIP Unicode Path field (0x7075) naming `text` (str or bytes)."""
    text = text.encode() if isinstance(text, str) else text
    body = bytes([version]) + struct.pack("<I", zlib.crc32(raw) ^ (0 if crc_matches else 1)) + text
    return struct.pack("<HH", 0x7075, len(body)) + body


def entry(name, data, host=0, extra=b"", flags=0, local_name=None, comment=b""):
    """A stored entry as legacy tools write it: `name` is the stored bytes."""
    return dict(name=name, data=data, host=host, extra=extra, flags=flags, local_name=local_name or name,
                comment=comment)


# Names stored as legacy tools store them, without the UTF-8 mark.
LEGACY_NAMES = [
    entry(b"\x91o\x86.txt", b"0\n"),                 # "æoå" in code page 437; no text in 932
    entry(b"\x95\x5c\x8e\xa6.txt", b"1\n"),          # "表示" in 932, whose first character ends in 0x5C
    entry(b"RAW.TXT", b"2\n", extra=unicode_path(b"RAW.TXT", "ünïcode.txt")),
    entry(b"\x91.TXT", b"3\n", extra=unicode_path(b"\x91.TXT", "stale.txt", crc_matches=False)),
    entry(b"caf\xc3\xa9.txt", b"4\n", host=3),       # UTF-8 from Unix
    entry(b"\xc3\xa9-dos.txt", b"5\n"),               # bytes that would be UTF-8, but from DOS
    entry(b"x\xe9.txt", b"6\n", host=3),              # not UTF-8, though from Unix
]


def eight_bit_name_cases():
    """Archives built as an adversary would, each to one row of the names test."""
    # A directory entry of `size` bytes: a full extra field, the rest comment.
    big = lambda size, name: entry(name, name[1:], extra=struct.pack("<HH", 0xCAFE, 65531) + bytes(65531),
                                   comment=bytes(size - 46 - len(name) - 65535))
    many = [entry(("é%05d" % n).encode(), b"%d" % n, host=3) for n in range(65535)]
    return {
        # The second byte 0x5C of a Shift_JIS character ends these names.
        "trail_byte_5c": [entry(b"\x95\x5c", b"hyo"), entry(b"\x88\xea\x97\x97\x95\x5c", b"ichiranhyo"),
                          entry(b"uni.txt", b"slash", extra=unicode_path(b"uni.txt", "ü/"))],
        "nul_in_names": [entry(b"a.txt", b"a", extra=unicode_path(b"a.txt", b"uni\0hidden.txt")),
                         entry(b"y.txt\0\x82", b"y"), entry(b"\x82.txt", b"e")],
        # Local headers X then Y, the directory Y then X, its names others.
        "directory_out_of_order": ([entry(b"\x82X.txt", b"XXXX", local_name=b"\x83A.txt"),
                                    entry(b"\x82Y.txt", b"YYYY", local_name=b"\x83B.txt")], [1, 0]),
        "decoy_directory": [entry(b"\x82real.txt", b"real")],
        "entries_65535": many,
        "large_directory_entries": [big(131072, b"\x82-first.txt"), big(131139, b"\x82-second-of-a-long-name.txt")],
        "unicode_path_fields": [entry(b"v0.txt", b"0", extra=unicode_path(b"v0.txt", "zero.txt", version=0)),
                                entry(b"st.txt", b"1", extra=unicode_path(b"st.txt", "stale.txt", crc_matches=False)
                                      + unicode_path(b"st.txt", "right.txt")),
                                entry(b"two.txt", b"2", extra=unicode_path(b"two.txt", "first.txt")
                                      + unicode_path(b"two.txt", "last.txt")), entry(b"\x82.txt", b"3")],
        "same_name_three_ways": [entry("é.txt".encode(), b"marked", flags=0x800), entry(b"\x82.txt", b"dos"),
                                 entry("é.txt".encode(), b"unix", host=3)],
        "koi8_r": [entry("Привет.txt".encode("koi8-r"), b"privet")],
    }


def write_entries(path, entries, order=None, decoy=False):
    """Stored entries, written byte by byte: no library writes such names.
    `order`: the central directory's order of the entries; `decoy`: a
    second directory of other names right before the end record, which
    still names the first."""
    out, records = bytearray(), []
    for e in entries:
        data, offset = e["data"], len(out)
        def fields(name, extra):
            return (20, e["flags"], 0, 0, 0x21, zlib.crc32(data), len(data), len(data), len(name), len(extra))
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, *fields(e["local_name"], e["extra"]))
        out += local + e["local_name"] + e["extra"] + data
        records.append(struct.pack("<IH", 0x02014B50, e["host"] << 8 | 20) +
                       struct.pack("<HHHHHIIIHH", *fields(e["name"], e["extra"])) +
                       struct.pack("<HHHII", len(e["comment"]), 0, 0, FILE, offset) + e["name"] + e["extra"] + e["comment"])
    central = b"".join(records[i] for i in (order or range(len(records))))
    start = len(out)
    out += central
    if decoy:
        out += central.replace(b"real", b"fake")
    count = min(len(records), 0xFFFF)
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), start, 0)
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
        return write_entries(path, LEGACY_NAMES)
    cases = eight_bit_name_cases()
    if kind in cases:
        entries, order = cases[kind] if isinstance(cases[kind], tuple) else (cases[kind], None)
        return write_entries(path, entries, order, decoy=kind == "decoy_directory")
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
