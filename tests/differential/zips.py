#!/usr/bin/env python3
"""The zip modes against 7-Zip, Info-ZIP's unzip and Python's zipfile, on every
zip-format file of this machine and on archives made here with every method
that 7-Zip and Info-ZIP write:  zips.py PROGRAM SCRATCH [--seeds DIR]

- list_zip_entry: names, sizes, packed sizes and encryption marks against
  `7z l -slt`, zipfile and names against `unzip -Z` (directories and hidden
  entries left out; names with a tab or a line end left out and reported);
- list_zip_entry_with_first_block: the first 16 bytes against `unzip -p`
  (against `7z x` for methods unzip cannot read);
- extract_from_zip: every entry (at most CAP of an archive, spread evenly)
  against `7z x`, byte for byte, and each reported digest against md5sum.

Names are compared with the rule of docs/zip.md ("Entry names"); where 7-Zip,
zipfile or unzip read a name otherwise, the difference counts as documented.
--seeds copies the small archives into DIR (the fuzzers' seeds)."""
import hashlib
import os
import shutil
import stat
import struct
import subprocess
import sys
import sysconfig
import zipfile
import zlib

from common import ENCODING, ENV, Tally, md5sums, run_job, uuid_of

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import make_test_archive  # noqa: E402

CAP = 4000            # entries extracted per archive
UNZIP_METHODS = {0, 8, 9, 12}  # stored, deflated, deflate64, bzip2
DOS_HOSTS = {0, 11, 14}
PASSWORD = "differential"
ROOTS = ["/usr", "/etc", "/var/lib", sysconfig.get_paths()["stdlib"]]
SKIPPED = ("/usr/local",)  # not the system's own files

DOC_RAW = "7-Zip (unzip -Z: from Unix) shows an unflagged name's stored bytes; the program reads them (docs/zip.md)"
DOC_SEPARATOR = "7-Zip, zipfile and unzip -Z keep `\\` in names from DOS; the program reads it as a separator"
DOC_OEM = "unzip -Z turns names from DOS byte by byte into Latin-1 by its own table, also names with the UTF-8 mark"
DOC_UNICODE_PATH = "unzip -Z takes Unicode Path fields otherwise (the last of several, cut at a NUL, a trailing / kept)"
DOC_LOCAL = "zipfile and unzip -Z read a central directory that the engine found disagreeing with the local headers"
DOC_CP437 = "zipfile reads every unflagged name in code page 437, also UTF-8 from Unix and Unicode Path fields"


def is_zip(path):
    try:
        with open(path, "rb") as f:
            if f.read(4) in (b"PK\x03\x04", b"PK\x05\x06", b"PK\x07\x08"):
                return True
            f.seek(-22, 2)
            return f.read(4) == b"PK\x05\x06"  # behind a stub, no comment
    except OSError:
        return False


def machine_archives():
    """Every zip-format regular file below ROOTS, one per content."""
    seen, found = set(), []
    for root in ROOTS:
        for directory, subdirectories, files in os.walk(root):
            subdirectories[:] = [d for d in subdirectories if os.path.join(directory, d) not in SKIPPED]
            for name in sorted(files):
                path = os.path.join(directory, name)
                try:
                    info = os.lstat(path)
                except OSError:
                    continue
                if not stat.S_ISREG(info.st_mode) or info.st_size < 22 or not is_zip(path):
                    continue
                digest = hashlib.md5()
                with open(path, "rb") as f:
                    for block in iter(lambda: f.read(1 << 20), b""):
                        digest.update(block)
                if digest.digest() not in seen:
                    seen.add(digest.digest())
                    found.append((path, None))
    return found


def made_archives(work, small=False):
    """Archives of Info-ZIP and 7-Zip with every method, and the tests' own
    kinds; `small` ones for the fuzzers' seeds."""
    source = os.path.join(work, "tree")
    files = {"plain.txt": b"plain text\n" * 40, "empty": b"", "random.bin": random_bytes(2000 if small else 200000),
             "logs/big.log": make_test_archive.text(20000 if small else 3 << 20),
             "names/caf\u00e9 \u00fc.txt": b"cafe\n", "names/\u65e5\u672c/\u6771\u4eac.txt": b"tokyo\n",
             "names/two  spaces .txt": b"spaces\n", "/".join("d%d" % i for i in range(12)) + "/leaf.txt": b"deep\n"}
    for name, data in files.items():
        os.makedirs(os.path.join(source, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(source, name), "wb") as f:
            f.write(data)
    with open(os.path.join(source.encode(), b"names", b"latin-\xe9.txt"), "wb") as f:
        f.write(b"latin-1 name\n")
    os.symlink("../plain.txt", os.path.join(source, "names", "link"))
    commands = {
        "infozip.zip": ["zip", "-qr"], "infozip-zip64.zip": ["zip", "-qr", "-fz"],
        "infozip-store.zip": ["zip", "-qr0"], "infozip-links.zip": ["zip", "-qry"],
        "infozip-zipcrypto.zip": ["zip", "-qr", "-P", PASSWORD],
        "7z-aes256.zip": ["7z", "a", "-bd", "-tzip", "-mem=AES256", "-p" + PASSWORD],
        "7z-zipcrypto.zip": ["7z", "a", "-bd", "-tzip", "-mem=ZipCrypto", "-p" + PASSWORD]}
    for method in ("Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"):
        commands["7z-%s.zip" % method.lower()] = ["7z", "a", "-bd", "-tzip", "-mm=" + method]
    made = []
    for name, command in commands.items():
        path = os.path.join(work, name)
        subprocess.run(command + [path, "."], cwd=source, check=True, stdout=subprocess.DEVNULL, env=ENV)
        made.append((path, PASSWORD if "-P" in command or "-p" + PASSWORD in command else None))
    # Some entries encrypted, some not.
    partly = os.path.join(work, "7z-partly-encrypted.zip")
    subprocess.run(["7z", "a", "-bd", "-tzip", partly, "plain.txt", "names"], cwd=source, check=True,
                   stdout=subprocess.DEVNULL, env=ENV)
    subprocess.run(["7z", "a", "-bd", "-tzip", "-mem=AES256", "-p" + PASSWORD, partly, "random.bin", "logs"],
                   cwd=source, check=True, stdout=subprocess.DEVNULL, env=ENV)
    made.append((partly, PASSWORD))
    for kind in ("mixed", "legacy_names", "hostile", "infozip_behind_stub", "sevenzip_names", "trail_byte_5c",
                 "nul_in_names", "directory_out_of_order", "decoy_directory",
                 "large_directory_entries", "unicode_path_fields", "same_name_three_ways", "koi8_r"):
        path = os.path.join(work, kind + ".zip")
        make_test_archive.main(kind, path)
        made.append((path, None))
    return made


def random_bytes(count):
    out, state = bytearray(), 1
    while len(out) < count:
        state = zlib.crc32(struct.pack("<I", state))
        out += struct.pack("<I", state)
    return bytes(out[:count])


def sevenzip_items(path, password):
    """The items of `7z l -slt`, each a dict of its fields; None when 7-Zip cannot open the archive."""
    run = subprocess.run(["7z", "l", "-tzip", "-slt", "-p" + (password or "-"), path], capture_output=True, env=ENV,
                         stdin=subprocess.DEVNULL, **ENCODING)
    if "\n----------\n" not in run.stdout:
        return None
    items, key = [], None
    for line in run.stdout.split("\n----------\n", 1)[1].split("\n"):
        if line.startswith("Path = "):
            items.append({})
        if not items:
            continue
        if " = " in line:
            key, value = line.split(" = ", 1)
            items[-1][key] = value
        elif line and key == "Path":  # a name with a line end
            items[-1]["Path"] += "\n" + line
    return items


def warning_of(items):
    """7-Zip's exit code where it read the local headers, not the central directory (a "Headers Error")."""
    return 2 if any("Local" in item.get("Characteristics", "") for item in items) else 0


def stored_name(info):
    """The bytes the central directory holds for an entry's name."""
    return info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def unicode_paths(info):
    """The texts of the entry's Unicode Path fields, None where the CRC is not its stored name's."""
    texts, extra = [], info.extra
    while len(extra) >= 4:
        kind, length = struct.unpack("<HH", extra[:4])
        body = extra[4:4 + length]
        if kind == 0x7075:
            crc_matches = len(body) >= 5 and struct.unpack("<I", body[1:5])[0] == zlib.crc32(stored_name(info))
            texts.append(body[5:] if crc_matches else None)
        extra = extra[4 + length:]
    return texts


def unicode_path(info):
    """The text the engine takes: the first field's, UTF-8 without NUL."""
    text = (unicode_paths(info) or [None])[0]
    try:
        return text.decode("utf-8") if text is not None and b"\0" not in text else None
    except UnicodeDecodeError:
        return None


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


def name_by_rule(info):
    """The name docs/zip.md says the program gives the entry: (name, which branch)."""
    raw = stored_name(info).split(b"\0")[0]
    if info.flag_bits & 0x800:
        name, branch = raw.decode("utf-8", "surrogateescape"), "utf8-flag"
    elif unicode_path(info) is not None:
        name, branch = unicode_path(info), "unicode-path"
    else:
        try:
            if info.create_system in DOS_HOSTS:
                raise UnicodeDecodeError("utf-8", b"", 0, 1, "from DOS")
            name, branch = raw.decode("utf-8"), "utf8-unix"
        except UnicodeDecodeError:
            name, branch = raw.decode("cp437"), "code-page"
    return name.removesuffix("/").replace("\\", "/"), branch, raw  # the engine drops a file's trailing /


def unlistable(name):
    return any(c in name for c in "\t\r\n")


class Stream:
    """An archive's entries in item order, as a command writes them all to its output."""

    def __init__(self, command):
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        stdin=subprocess.DEVNULL, env=ENV)

    def entry(self, size, into=None):
        """Reads one entry of `size` bytes: its first 16 bytes, and whether it matched `into` (open files)."""
        first, left, same = b"", size, True
        while left > 0:
            block = self.process.stdout.read(min(left, 1 << 20))
            if not block:
                return first, False
            first = (first + block[:16])[:16] if len(first) < 16 else first
            for f in into or ():
                same = same and f.read(len(block)) == block
            left -= len(block)
        return first, same and all(f.read(1) == b"" for f in into or ())

    def close(self, warning=0):
        rest = self.process.stdout.read()
        self.process.stdout.close()
        return self.process.wait() in (0, warning) and rest == b""


def check_archive(program, path, password, work, tally):
    tally.counts["archives"] += 1
    job = os.path.join(work, "job")
    items = sevenzip_items(path, password)
    code, listing, err = run_job(program, "list_zip_entry", job, ["zip_file_path\t" + path])
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

    expected, left_out = [], 0  # (item index, item): the entries the listing must show
    for index, item in enumerate(items):
        if item.get("Folder") == "+" or "H" in item.get("Attributes", "").split(" ")[0]:
            continue
        tally.counts["entries"] += 1
        if unlistable(item["Path"]) or (infos and unlistable(name_by_rule(infos[index])[0])):
            left_out += 1
            continue
        expected.append((index, item))
    tally.counts["names left out and reported"] += left_out
    if err.count("left out ") != left_out:
        tally.differ(path, "%d names left out, %d reported" % (left_out, err.count("left out ")))
    if len(listing) != len(expected):
        return tally.differ(path, "%d entries listed, 7-Zip has %d" % (len(listing), len(expected)))

    listed = [line.split("\t") for line in listing]
    for (index, item), fields in zip(expected, listed):
        where = "%s [%d]" % (path, index)
        if fields[0] != "file" or len(fields) != 5:
            tally.differ(where, "line %r" % "\t".join(fields))
            continue
        mine = (fields[2], fields[3], fields[4])
        if mine != (item["Size"], item["Packed Size"], "1" if item.get("Encrypted") == "+" else "0"):
            tally.differ(where, "size, packed size, encrypted %s; 7-Zip %s %s %s" %
                         (mine, item["Size"], item["Packed Size"], item.get("Encrypted")))
        compare_name(where, fields[1], item, infos[index] if infos else None, shown[index] if shown else None,
                     tally)
    tally.counts["entries listed"] += len(listed)

    compare_first_blocks(program, path, password, job, expected, listed, items, infos, tally)
    compare_extraction(program, path, password, work, expected, listed, items, tally)


def compare_name(where, mine, item, info, shown, tally):
    if info is None:
        if mine != item["Path"]:
            tally.differ(where, "name %r, 7-Zip %r" % (mine, item["Path"]))
        return
    rule, branch, raw = name_by_rule(info)
    if mine != rule:
        return tally.differ(where, "name %r, by the rule %r" % (mine, rule))
    if item["Path"] != mine:
        if item["Path"].encode("utf-8", "surrogateescape") == raw and branch == "code-page":
            tally.document(DOC_RAW, where)
        elif item["Path"].replace("\\", "/") == mine:
            tally.document(DOC_SEPARATOR, where)
        else:
            tally.differ(where, "name %r, 7-Zip %r" % (mine, item["Path"]))
    if info.compress_type is None:  # read from the local header
        return tally.document(DOC_LOCAL, where)
    if shown is not None and shown != mine.encode("utf-8", "surrogateescape"):
        if shown.replace(b"\\", b"/") == mine.encode("utf-8", "surrogateescape"):
            tally.document(DOC_SEPARATOR, where)
        elif shown == raw and branch == "code-page":
            tally.document(DOC_RAW, where)
        elif info.create_system in DOS_HOSTS and branch != "unicode-path" and len(shown) == len(raw):
            tally.document(DOC_OEM, where)
        elif shown in [text.split(b"\0")[0] for text in unicode_paths(info) if text] + [raw]:
            tally.document(DOC_UNICODE_PATH, where)
        else:
            tally.differ(where, "name %r, unzip -Z %r" % (mine, shown))
    if info.filename != mine:
        if info.filename == raw.decode("cp437") and branch in ("utf8-unix", "unicode-path"):
            tally.document(DOC_CP437, where)
        elif info.filename.replace("\\", "/") == mine:
            tally.document(DOC_SEPARATOR, where)
        else:
            tally.differ(where, "name %r, zipfile %r" % (mine, info.filename))
    if (info.file_size, info.compress_size, info.flag_bits & 1) != (int(item["Size"]), int(item["Packed Size"]),
                                                                   item.get("Encrypted") == "+"):
        tally.differ(where, "zipfile's size, packed size or encryption differ from 7-Zip's")


def reference_stream(path, password):
    return Stream(["7z", "x", "-tzip", "-so", "-p" + (password or "-"), path])


def compare_first_blocks(program, path, password, job, expected, listed, items, infos, tally):
    code, lines, err = run_job(program, "list_zip_entry_with_first_block", job, ["zip_file_path\t" + path])
    if code != 0 or [line.rsplit("\t", 1)[0] for line in lines] != ["\t".join(fields) for fields in listed]:
        return tally.differ(path, "the first-block listing differs from the listing: " + err.strip()[-200:])
    encrypted = any(item.get("Encrypted") == "+" for item in items)
    if encrypted and password is None:
        tally.counts["archives encrypted, password unknown"] += 1
        return
    by_unzip = infos is not None and not encrypted and all(info.compress_type in UNZIP_METHODS for info in infos)
    stream = Stream(["unzip", "-p", path]) if by_unzip else reference_stream(path, password)
    sizes = [info.file_size for info in infos] if by_unzip else [int(item.get("Size") or 0) for item in items]
    firsts = [stream.entry(size)[0] for size in sizes]
    if not stream.close(1 if by_unzip else warning_of(items)):
        return tally.differ(path, "%s failed" % ("unzip -p" if by_unzip else "7z x"))
    tally.counts["first blocks by unzip" if by_unzip else "first blocks by 7z x"] += len(lines)
    for (index, item), line in zip(expected, lines):
        want = "" if item.get("Encrypted") == "+" else firsts[index].hex()
        if line.rsplit("\t", 1)[1] != want:
            tally.differ("%s [%d]" % (path, index), "first block %s, expected %s" % (line.rsplit("\t", 1)[1], want))


def compare_extraction(program, path, password, work, expected, listed, items, tally):
    if any(item.get("Encrypted") == "+" for item in items) and password is None:
        return
    out = os.path.join(work, "out")
    chosen, last_of = [], {}
    for (index, item), fields in zip(expected, listed):
        last_of[fields[1]] = index
    candidates = [(index, fields) for (index, item), fields in zip(expected, listed)
                  if fields[4] == "0" and len(fields[1].encode("utf-8", "surrogateescape")) < 900]
    step = max(1, -(-len(candidates) // CAP))
    if step > 1:
        tally.counts["archives capped at %d extracted entries" % CAP] += 1
    names = set()
    for index, fields in candidates[::step]:
        if fields[1] not in names:
            names.add(fields[1])
            chosen.append(fields[1])
    records = ["file\t%s\t%s\t%d" % (uuid_of(n), name, n) for n, name in enumerate(chosen)]
    code, lines, err = run_job(program, "extract_from_zip", os.path.join(work, "job"),
                               ["zip_file_path\t" + path, "output_base_dir_path\t" + out] + records)
    if code != 0 or len(lines) != len(records):
        tally.differ(path, "extraction ended after %d of %d records: %s" % (len(lines), len(records), err.strip()[-300:]))
    reported = {}
    for line in lines:
        _, uuid, size, digest = line.split("\t")
        reported[int(uuid.rsplit("-", 1)[1], 16)] = (size, digest)
    sums = md5sums([str(n) for n in reported], out) if reported else {}
    wanted = {}  # item index -> destinations
    for n, name in enumerate(chosen):
        if n in reported:
            wanted.setdefault(last_of[name], []).append(n)
            if sums.get(str(n)) != reported[n][1]:
                tally.differ(path, "%s: digest %s, md5sum %s" % (name, reported[n][1], sums.get(str(n))))
    stream = reference_stream(path, password)
    for index, item in enumerate(items):
        destinations = wanted.get(index, [])
        files = [open(os.path.join(out, str(n)), "rb") for n in destinations]
        _, same = stream.entry(int(item.get("Size") or 0), files)
        for f in files:
            f.close()
        if destinations and not same:
            tally.differ("%s [%d]" % (path, index), "extracted bytes differ from 7z x")
        for n in destinations:
            if reported[n][0] != item["Size"]:
                tally.differ("%s [%d]" % (path, index), "size %s, 7-Zip %s" % (reported[n][0], item["Size"]))
        tally.counts["entries extracted"] += len(destinations)
    if not stream.close(warning_of(items)):
        tally.differ(path, "7z x failed")
    check_encrypted_refused(program, path, work, expected, listed, tally)
    shutil.rmtree(out, ignore_errors=True)


def check_encrypted_refused(program, path, work, expected, listed, tally):
    """No password is ever given: an encrypted entry fails its record and leaves no file."""
    encrypted = [fields[1] for fields in listed if fields[4] == "1"]
    if not encrypted:
        return
    out = os.path.join(work, "locked")
    code, lines, err = run_job(program, "extract_from_zip", os.path.join(work, "job"),
                               ["zip_file_path\t" + path, "output_base_dir_path\t" + out,
                                "file\t%s\t%s\tlocked" % (uuid_of(0), encrypted[0])])
    if code != 2 or lines or os.path.exists(os.path.join(out, "locked")) or "extract failed" not in err:
        tally.differ(path, "an encrypted entry was not refused: %d %r" % (code, err[-200:]))
    tally.counts["encrypted entries refused"] += 1
    shutil.rmtree(out, ignore_errors=True)


def main():
    program, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(work, exist_ok=True)
    tally = Tally("zip differential")
    shutil.rmtree(os.path.join(work, "made"), ignore_errors=True)
    made = made_archives(os.path.join(work, "made"))
    many = os.path.join(work, "infozip-65535.zip")  # kept: slow to make
    if not os.path.exists(many):
        tree = os.path.join(work, "many")
        os.makedirs(tree, exist_ok=True)
        for n in range(65535):
            open(os.path.join(tree, "\u00e9%05d" % n), "w").write(str(n))
        subprocess.run(["zip", "-qr", many, "."], cwd=tree, check=True, env=ENV)
        shutil.rmtree(tree)
    made.append((many, None))
    found = [] if "--made-only" in sys.argv else machine_archives()
    if "--seeds" in sys.argv:  # small ones seed the fuzzers
        seeds = sys.argv[sys.argv.index("--seeds") + 1]
        os.makedirs(seeds, exist_ok=True)
        shutil.rmtree(os.path.join(work, "small"), ignore_errors=True)
        for path, _ in made_archives(os.path.join(work, "small"), small=True) + found:
            if os.path.getsize(path) <= 65536:
                shutil.copy(path, os.path.join(seeds, hashlib.md5(open(path, "rb").read()).hexdigest() + ".zip"))
    os.makedirs(os.path.join(work, "check"), exist_ok=True)
    for path, password in made + found:
        check_archive(program, path, password, os.path.join(work, "check"), tally)
    counts = tally.counts
    for key in sorted(counts):
        if key not in ("archives", "entries", "entries listed", "entries extracted"):
            print("%s: %d" % (key, counts[key]))
    ok = tally.report("%d archives (%d found on this machine, %d made), %d entries, %d listed, %d extracted"
                      % (counts["archives"], len(found), len(made), counts["entries"], counts["entries listed"],
                         counts["entries extracted"]))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
