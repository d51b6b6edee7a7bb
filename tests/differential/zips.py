#!/usr/bin/env python3
"""The zip modes against 7-Zip, Info-ZIP's unzip and Python's zipfile on every zip-format file of this machine
and on archives made here:  zips.py PROGRAM SCRATCH. What is compared: docs/testing.md ("Differential checks
on real data"); the names by the rule of docs/zip.md, the differences it explains counted as documented."""
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import sysconfig
import zipfile
import zlib

from common import ENCODING, ENV, Tally, make_tree, md5sums, number_of, run, uuid_of
import make_test_archive  # noqa: E402  (tests/support, on the path common set)

CAP = 4000  # entries extracted per archive
UNZIP_METHODS = {0, 8, 9, 12}  # stored, deflated, deflate64, bzip2
DOS_HOSTS = {0, 11, 14}
PASSWORD = "differential"
ROOTS = ["/usr", "/etc", "/var/lib", sysconfig.get_paths()["stdlib"]]
SEVEN, LOCKED = ["7z", "a", "-bd", "-tzip"], ["-p" + PASSWORD]
KINDS = ("mixed", "legacy_names", "hostile", "infozip_behind_stub", "sevenzip_names", "trail_byte_5c", "nul_in_names",
         "directory_out_of_order", "decoy_directory", "large_directory_entries", "unicode_path_fields",
         "same_name_three_ways", "koi8_r")  # the hand-built and tool-made cases of the names test

DOC_RAW = "7-Zip (unzip -Z: from Unix) shows an unflagged name's stored bytes; the program reads them (docs/zip.md)"
DOC_SEPARATOR = "7-Zip, zipfile and unzip -Z keep `\\` in names from DOS; the program reads it as a separator"
DOC_OEM = "unzip -Z turns names from DOS byte by byte into Latin-1 by its own table, also names with the UTF-8 mark"
DOC_UNICODE_PATH = "unzip -Z takes Unicode Path fields otherwise (the last of several, cut at a NUL, a trailing / kept)"
DOC_LOCAL = "zipfile and unzip -Z read a central directory that the engine found disagreeing with the local headers"
DOC_CP437 = "zipfile reads every unflagged name in code page 437, also UTF-8 from Unix and Unicode Path fields"


def made_archives(work):
    """Archives of Info-ZIP and 7-Zip with every method, and the names test's kinds: {path: password}."""
    made, source, many = {}, os.path.join(work, "made", "tree"), os.path.join(work, "made", "many")
    shutil.rmtree(os.path.join(work, "made"), ignore_errors=True)
    make_tree(source, {"plain.txt": b"plain text\n" * 40, "random.bin": random.Random(1).randbytes(200000),
                       "empty": b"", "logs/big.log": make_test_archive.text(3 << 20), "names/link": "../plain.txt",
                       "names/caf\u00e9 \u00fc.txt": b"cafe\n", "names/\u65e5\u672c/\u6771\u4eac.txt": b"tokyo\n",
                       "names/two  spaces .txt": b"spaces\n", b"names/latin-\xe9.txt": b"latin-1 name\n",
                       "/".join("d%d" % i for i in range(12)) + "/leaf.txt": b"deep\n"})
    make_tree(many, {"\u00e9%05d" % n: str(n).encode() for n in range(65535)})

    def make(name, command, *inputs, cwd=source):
        path = os.path.join(work, "made", name)
        subprocess.run(command + [path, *(inputs or ["."])], cwd=cwd, check=True, stdout=subprocess.DEVNULL, env=ENV)
        made[path] = made.get(path) or (PASSWORD if "-P" in command or LOCKED[0] in command else None)

    for name, command in [("infozip.zip", ["zip", "-qr"]), ("infozip-zip64.zip", ["zip", "-qr", "-fz"]),
                          ("infozip-store.zip", ["zip", "-qr0"]), ("infozip-links.zip", ["zip", "-qry"]),
                          ("infozip-zipcrypto.zip", ["zip", "-qr", "-P", PASSWORD]),
                          ("7z-aes256.zip", SEVEN + ["-mem=AES256"] + LOCKED),
                          ("7z-zipcrypto.zip", SEVEN + ["-mem=ZipCrypto"] + LOCKED)]:
        make(name, command)
    for method in ("Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"):
        make("7z-%s.zip" % method.lower(), SEVEN + ["-mm=" + method])
    make("7z-partly-encrypted.zip", SEVEN, "plain.txt", "names")  # some entries encrypted, some not
    make("7z-partly-encrypted.zip", SEVEN + ["-mem=AES256"] + LOCKED, "random.bin", "logs")
    for kind in KINDS:
        make_test_archive.main(kind, os.path.join(work, "made", kind + ".zip"))
        made[os.path.join(work, "made", kind + ".zip")] = None
    make("infozip-65535.zip", ["zip", "-qr"], cwd=many)
    return made


def machine_archives():
    """Every zip-format regular file below ROOTS, one per content (/usr/local is not the system's)."""
    find = ["find", *ROOTS, "-path", "/usr/local", "-prune", "-o", "-type", "f", "-size", "+21c", "-print0"]
    first_of = {}  # content's MD5 -> path
    for path in os.fsdecode(subprocess.run(find, capture_output=True).stdout).split("\0")[:-1]:
        try:
            with open(path, "rb") as f:
                head = f.read(4)
                f.seek(-22, 2)  # an end record without a comment, as behind a stub
                if head in (b"PK\x03\x04", b"PK\x05\x06", b"PK\x07\x08") or f.read(4) == b"PK\x05\x06":
                    f.seek(0)
                    first_of.setdefault(hashlib.file_digest(f, "md5").digest(), path)
        except OSError:
            pass
    return {path: None for path in first_of.values()}


def sevenzip_items(path, password):
    """The items of `7z l -slt`, each a dict of its fields; None when 7-Zip cannot open the archive."""
    listing = subprocess.run(["7z", "l", "-tzip", "-slt", "-p" + (password or "-"), path], capture_output=True,
                             env=ENV, stdin=subprocess.DEVNULL, **ENCODING).stdout
    if "\n----------\n" not in listing:
        return None
    items, key = [], None
    for line in listing.split("\n----------\n", 1)[1].split("\n"):
        if line.startswith("Path = "):
            items.append({})
        if items and " = " in line:
            key, value = line.split(" = ", 1)
            items[-1][key] = value
        elif items and line and key == "Path":  # a name with a line end
            items[-1]["Path"] += "\n" + line
    return items


def warning_of(items):
    """7-Zip's exit code where it read the local headers, not the central directory (a "Headers Error")."""
    return 2 if any("Local" in item.get("Characteristics", "") for item in items) else 0


def encrypted(item):
    return item.get("Encrypted") == "+"


def stored_name(info):
    """The bytes the central directory holds for an entry's name."""
    return info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def unicode_paths(info):
    """The texts of the entry's Unicode Path fields, None where the CRC is not its stored name's."""
    texts, extra = [], info.extra
    while len(extra) >= 4:
        kind, length = struct.unpack("<HH", extra[:4])
        body, extra = extra[4:4 + length], extra[4 + length:]
        crc_matches = body[1:5] == struct.pack("<I", zlib.crc32(stored_name(info)))
        if kind == 0x7075:
            texts.append(body[5:] if crc_matches else None)
    return texts


def local_infos(path, items):
    """The entries as the engine read them from their local headers (host unknown)."""
    infos = []
    with open(path, "rb") as f:
        for item in items:
            f.seek(int(item["Offset"]))
            fields = struct.unpack("<IHHHHHIIIHH", f.read(30))
            info, raw = zipfile.ZipInfo(), f.read(fields[9])
            info.orig_filename = raw.decode("utf-8" if fields[2] & 0x800 else "cp437", "surrogateescape")
            info.flag_bits, info.create_system, info.compress_type = fields[2], 255, None
            info.extra = f.read(fields[10])
            infos.append(info)
    return infos


def utf8(data):
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return None


def name_by_rule(info):
    """The name docs/zip.md says the program gives the entry: (name, which branch, stored bytes)."""
    raw, field = stored_name(info).split(b"\0")[0], (unicode_paths(info) or [None])[0]
    if info.flag_bits & 0x800:
        name, branch = raw.decode("utf-8", "surrogateescape"), "utf8-flag"
    elif field is not None and b"\0" not in field and utf8(field) is not None:  # the first field, as the engine
        name, branch = utf8(field), "unicode-path"
    elif info.create_system not in DOS_HOSTS and utf8(raw) is not None:
        name, branch = utf8(raw), "utf8-unix"
    else:
        name, branch = raw.decode("cp437"), "code-page"
    return name.removesuffix("/").replace("\\", "/"), branch, raw  # the engine drops a file's trailing /


def unlistable(name):
    return any(c in name for c in "\t\r\n")


def read_entries(command, sizes, warning):
    """The entries a command writes one after another, of the sizes given: the first 16 bytes and the MD5 of
    each (None where the output ended early), and whether the command ended well (exit code 0 or `warning`)
    with nothing left over."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, env=ENV)
    entries = []
    for left in sizes:
        first, digest = b"", hashlib.md5()
        while left > 0 and (block := process.stdout.read(min(left, 1 << 20))):
            first, left = (first + block[:16])[:16], left - len(block)
            digest.update(block)
        entries.append((first, digest.hexdigest() if left <= 0 else None))
    rest = process.stdout.read()
    return entries, process.wait() in (0, warning) and rest == b""


def check_archive(program, path, password, work, tally):
    tally.counts["archives"] += 1
    job = os.path.join(work, "job")
    items = sevenzip_items(path, password)
    code, listing, err = run(program, "list_zip_entry", job, {"zip_file_path": path})
    if items is None:
        if code == 0:
            tally.differ(path, "7-Zip cannot open it, the program lists %d entries" % len(listing))
        tally.counts["archives neither opens"] += 1
        return
    if code != 0:
        return tally.differ(path, "7-Zip opens it, the program fails: " + err.strip()[-200:])
    try:
        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
    except (zipfile.BadZipFile, OSError, ValueError, NotImplementedError):
        infos = None
        tally.counts["archives zipfile cannot read"] += 1
    if infos is not None and len(infos) != len(items):
        tally.counts["archives zipfile reads otherwise"] += 1
        infos = None
    shown = subprocess.run(["unzip", "-Z1", path], capture_output=True, env=ENV).stdout.split(b"\n")[:-1]
    if infos is not None and warning_of(items):
        infos, shown = local_infos(path, items), None
    elif infos is None or len(shown) != len(infos):
        shown = None

    # The entries the listing must show, (item index, item): no directories, no hidden ones.
    entries = [(index, item) for index, item in enumerate(items)
               if item.get("Folder") != "+" and "H" not in item.get("Attributes", "").split(" ")[0]]
    expected = [(index, item) for index, item in entries
                if not unlistable(item["Path"]) and not (infos and unlistable(name_by_rule(infos[index])[0]))]
    left_out = len(entries) - len(expected)
    tally.counts.update({"entries": len(entries), "names left out and reported": left_out})
    if err.count("left out ") != left_out:
        tally.differ(path, "%d names left out, %d reported" % (left_out, err.count("left out ")))
    if len(listing) != len(expected):
        return tally.differ(path, "%d entries listed, 7-Zip has %d" % (len(listing), len(expected)))
    for (index, item), fields in zip(expected, listing):
        where = "%s [%d]" % (path, index)
        if fields[0] != "file" or len(fields) != 5:
            tally.differ(where, "line %r" % "\t".join(fields))
            continue
        if fields[2:] != [item["Size"], item["Packed Size"], "1" if encrypted(item) else "0"]:
            tally.differ(where, "size, packed size, encrypted %s; 7-Zip %s %s %s" %
                         (fields[2:], item["Size"], item["Packed Size"], item.get("Encrypted")))
        compare_name(where, fields[1], item, infos[index] if infos else None, shown[index] if shown else None, tally)
    tally.counts["entries listed"] += len(listing)
    compare_contents(program, path, password, work, expected, listing, items, infos, tally)


def compare_name(where, mine, item, info, shown, tally):
    """The listed name against the rule and each tool's reading; a difference that one of the tool's
    explanations (docs/zip.md, taken in order) fits counts as documented."""
    readings = [("7-Zip", item["Path"], [])]
    if info is not None:
        rule, branch, raw = name_by_rule(info)
        if mine != rule:
            return tally.differ(where, "name %r, by the rule %r" % (mine, rule))
        separator = (DOC_SEPARATOR, lambda r: r.replace(b"\\", b"/") == os.fsencode(mine))
        stored = (DOC_RAW, lambda r: r == raw and branch == "code-page")
        oem = (DOC_OEM, lambda r: info.create_system in DOS_HOSTS and branch != "unicode-path" and len(r) == len(raw))
        fields = [text.split(b"\0")[0] for text in unicode_paths(info) if text] + [raw]
        field = (DOC_UNICODE_PATH, lambda r: r in fields)
        cp437 = (DOC_CP437, lambda r: r == os.fsencode(raw.decode("cp437")) and branch in ("utf8-unix", "unicode-path"))
        readings = [("7-Zip", item["Path"], [stored, separator])]
        if info.compress_type is None:  # read from the local header
            tally.document(DOC_LOCAL, where)
        else:
            readings += [("unzip -Z", shown, [separator, stored, oem, field]),
                         ("zipfile", info.filename, [cp437, separator])]
            if (info.file_size, info.compress_size, info.flag_bits & 1) != (int(item["Size"]), int(item["Packed Size"]),
                                                                           encrypted(item)):
                tally.differ(where, "zipfile's size, packed size or encryption differ from 7-Zip's")
    for tool, reading, explanations in readings:
        reading = None if reading is None else os.fsencode(reading)
        if reading not in (None, os.fsencode(mine)):
            reason = next((reason for reason, fits in explanations if fits(reading)), None)
            if reason:
                tally.document(reason, where)
            else:
                tally.differ(where, "name %r, %s %r" % (mine, tool, reading))


def compare_contents(program, path, password, work, expected, listing, items, infos, tally):
    """First blocks against `unzip -p` (`7z x` for what unzip cannot read); every entry extracted (at most CAP,
    spread evenly; the last of each name), its size and digest against 7-Zip's size, the MD5 of what `7z x`
    writes and md5sum; an encrypted entry must fail its record and leave no file (no password is ever given)."""
    out, job = os.path.join(work, "out"), os.path.join(work, "job")
    code, blocks, err = run(program, "list_zip_entry_with_first_block", job, {"zip_file_path": path})
    if code != 0 or [fields[:-1] for fields in blocks] != listing:
        tally.differ(path, "the first-block listing differs from the listing: " + err.strip()[-200:])
    locked = any(encrypted(item) for item in items)
    if locked and password is None:
        tally.counts["archives encrypted, password unknown"] += 1
        return
    sevens, ok = read_entries(["7z", "x", "-tzip", "-so", "-p" + (password or "-"), path],
                              [int(item.get("Size") or 0) for item in items], warning_of(items))
    firsts, by_unzip = sevens, infos is not None and not locked and all(i.compress_type in UNZIP_METHODS for i in infos)
    if by_unzip:
        firsts, unzip_ok = read_entries(["unzip", "-p", path], [info.file_size for info in infos], 1)
        ok = ok and unzip_ok
    if not ok:
        tally.differ(path, "7z x or unzip -p failed")
    tally.counts["first blocks by unzip" if by_unzip else "first blocks by 7z x"] += len(blocks)
    for (index, item), fields in zip(expected, blocks):
        want = "" if encrypted(item) else firsts[index][0].hex()
        if fields[-1] != want:
            tally.differ("%s [%d]" % (path, index), "first block %s, expected %s" % (fields[-1], want))

    last_of = {fields[1]: index for (index, _), fields in zip(expected, listing)}
    candidates = [fields[1] for fields in listing if fields[4] == "0" and len(os.fsencode(fields[1])) < 900]
    step = max(1, -(-len(candidates) // CAP))
    if step > 1:
        tally.counts["archives capped at %d extracted entries" % CAP] += 1
    chosen = list(dict.fromkeys(candidates[::step]))
    code, lines, err = run(program, "extract_from_zip", job, {"zip_file_path": path, "output_base_dir_path": out},
                           [dict(uuid=uuid_of(n), archive_name=name, file_name=n) for n, name in enumerate(chosen)])
    if code != 0 or len(lines) != len(chosen):
        tally.differ(path, "extraction ended after %d of %d records: %s"
                     % (len(lines), len(chosen), err.strip()[-300:]))
    reported = {number_of(uuid): (size, digest) for _, uuid, size, digest in lines}
    sums = md5sums([str(n) for n in reported], out) if reported else {}
    for n, name in [(n, name) for n, name in enumerate(chosen) if n in reported]:
        index = last_of[name]
        if reported[n] != (items[index]["Size"], sums.get(str(n))) or sums.get(str(n)) != sevens[index][1]:
            tally.differ("%s [%d]" % (path, index), "%s: size and digest %s; 7-Zip's size %s, md5sum %s, 7z x %s"
                         % (name, reported[n], items[index]["Size"], sums.get(str(n)), sevens[index][1]))
        tally.counts["entries extracted"] += 1
    refused = [fields[1] for fields in listing if fields[4] == "1"]
    if refused:
        code, lines, err = run(program, "extract_from_zip", job, {"zip_file_path": path, "output_base_dir_path": out},
                               [dict(uuid=uuid_of(0), archive_name=refused[0], file_name="locked")])
        if code != 2 or lines or os.path.exists(os.path.join(out, "locked")) or "extract failed" not in err:
            tally.differ(path, "an encrypted entry was not refused: %d %r" % (code, err[-200:]))
        tally.counts["encrypted entries refused"] += 1
    shutil.rmtree(out, ignore_errors=True)


def main():
    program, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    tally = Tally("zip differential")
    made, found = made_archives(work), machine_archives()
    tally.counts.update({"found": len(found), "made": len(made)})
    for path, password in {**made, **found}.items():
        check_archive(program, path, password, os.path.join(work, "check"), tally)
    sys.exit(not tally.report("%(archives)d archives (%(found)d found on this machine, %(made)d made), %(entries)d "
                              "entries, %(entries listed)d listed, %(entries extracted)d extracted"))


if __name__ == "__main__":
    main()
