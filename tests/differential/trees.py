#!/usr/bin/env python3
"""The listing, existence and store modes against find, md5sum and diff -r on /usr and on a scratch tree of
names /usr may lack:  trees.py PROGRAM SCRATCH. What is compared: docs/testing.md ("Differential checks on
real data")."""
import os
import shutil
import subprocess
import sys

from common import ENCODING, Tally, make_tree, md5sums, number_of, run, uuid_of

LINE = 1022  # the longest line of a job


def found_files(root, follow=True):
    """find's regular files below root: {relative path: size}. Following links, find cannot go past the
    system's path limit; without, it can."""
    files = {}
    for options in (["-L"], []) if follow else ([],):
        run = subprocess.run(["find"] + options + [root, "-type", "f", "-printf", r"%s\t%P\0"],
                             capture_output=True, **ENCODING)
        for record in run.stdout.split("\0")[:-1]:
            size, path = record.split("\t", 1)
            files[path] = int(size)
    return files


def carried(path):
    """Whether a result line and a job can hold the path."""
    return not any(c in path for c in "\t\r\n\\")


def check_listing(program, root, work, tally):
    code, rows, err = run(program, "list_files", os.path.join(work, "job"), {"dir_path": root})
    if code != 0:
        tally.differ(root, "list_files failed: " + err[-300:])
    found, paths = found_files(root), ["\t".join(row[2:]) for row in rows]
    listed = {path: int(row[1]) for path, row in zip(paths, rows)}
    expected = {path: size for path, size in found.items() if carried(path)}
    for path in sorted(p for p in set(listed) | set(expected) if listed.get(p) != expected.get(p))[:40]:
        tally.differ(root, "%r: listed with size %s, find's size %s" % (path, listed.get(path), expected.get(path)))
    left_out = len(found) - len(expected)
    if err.count("left out ") != left_out:
        tally.differ(root, "%d names left out, %d reported" % (left_out, err.count("left out ")))
    left, before = set(), set()  # the directories the listing has left; those of the file before
    for path in paths:
        now = {"/".join(path.split("/")[:depth]) for depth in range(1, path.count("/") + 1)}
        left |= before - now
        if now & left:
            tally.differ(root, "%r comes after its directory was left" % path)
            break
        before = now
    tally.counts.update({"files listed": len(rows), "names left out and reported": left_out})
    return expected


def check_existence(program, root, files, work, tally, absent=()):
    """Every file in its directory, a missing name beside each, one in a missing directory, and the names
    in `absent`, which are no regular files: (directory, name, size or None)."""
    places = [(root, name, None) for name in absent]
    for path in sorted(files):
        directory, name = os.path.split(os.path.join(root, path))
        places += [(directory, name, files[path]), (directory, name + ".missing", None),
                   (os.path.join(directory, "no such directory"), name, None)]
    places = [place for place in places if len(os.fsencode(place[0] + place[1])) + 45 < LINE]  # uuid, tabs, ...
    records = [dict(uuid=uuid_of(n), dir_name=d, file_name=f, storage_type=1) for n, (d, f, _) in enumerate(places)]
    present = {uuid_of(n): size for n, (_, _, size) in enumerate(places) if size is not None}
    code, rows, err = run(program, "test_file_existence", os.path.join(work, "job"), {}, records)
    if code != 0:
        tally.differ(root, "test_file_existence failed: " + err[-300:])
    answered = {uuid: int(size) for _, uuid, size in rows}
    if answered != present:
        wrong = sorted(set(answered.items()) ^ set(present.items()))
        tally.differ(root, "existence: %d answers differ, first %r" % (len(wrong), wrong[:3]))
    if [row[1] for row in rows] != sorted(answered, key=number_of):
        tally.differ(root, "existence answers out of record order")
    tally.counts["names tested"] += len(records)


def check_copies(program, root, files, work, tally):
    """Into the store and back out; digests against md5sum, copies against the originals."""
    store, restored, job = (os.path.join(work, name) for name in ("store", "restored", "job"))
    paths = sorted(path for path in files if len(os.fsencode(path)) < LINE - 100)
    records = [dict(uuid=uuid_of(n), file_name=path, private_resource_dir_path=store, storage_type=3 if n % 2 else 1)
               for n, path in enumerate(paths)]
    code, rows, err = run(program, "batch_copy_to_resource_store", job, {"input_base_dir_path": root}, records)
    if code != 0 or len(rows) != len(records):
        tally.differ(root, "copy into the store: %d of %d, %s" % (len(rows), len(records), err[-300:]))
    sums = md5sums(paths, root)
    for _, uuid, size, digest in rows:
        path = paths[number_of(uuid)]
        if (digest, int(size)) != (sums[path], files[path]):
            tally.differ(root, "%r stored with %s %s, md5sum %s, size %d"
                         % (path, size, digest, sums[path], files[path]))
    code, rows, err = run(program, "batch_copy_from_resource_store", job, {"output_base_dir_path": restored}, records)
    if code != 0 or rows:
        tally.differ(root, "copy out of the store failed: " + err[-300:])
    diff = subprocess.run(["diff", "-r", "--no-dereference", root, restored], capture_output=True, **ENCODING)
    for line in diff.stdout.splitlines() + diff.stderr.splitlines():
        only = line.startswith("Only in %s" % root.rstrip("/")) and os.path.join(*line[8:].split(": ", 1))
        if only and (not os.path.isfile(only) or os.path.islink(only) or os.path.relpath(only, root) not in paths):
            continue  # what the store does not hold: links, FIFOs, directories without files, names left out
        if line.startswith("File %s/" % root.rstrip("/")) and " is a symbolic link while file " in line:
            continue  # copied through the link
        tally.differ(root, "diff -r: " + line)
    tally.counts["files stored and restored"] += len(paths)
    shutil.rmtree(store, ignore_errors=True)
    shutil.rmtree(restored, ignore_errors=True)


def make_scratch_tree(top):
    """Names /usr may not have, links, a loop, a FIFO, and a file deeper than the path limit."""
    make_tree(top, {b"with space/file name with  spaces.txt": b"spaces\n", b"latin-\xe9/\xff\xfe.bin": b"\xff\xfe\n",
                    "unicode-\u540d\u524d/\u30d5\u30a1\u30a4\u30eb.txt": b"unicode\n", b"tab\there.txt": b"tab\n",
                    "/".join("level-%02d" % i for i in range(60)) + "/leaf.txt": b"deep\n", "empty": b"",
                    b"back\\slash.txt": b"backslash\n", "big.bin": os.urandom(3 << 20), "link-to-file": "big.bin",
                    "broken-link": "no such target", "with space/loop": "..", "fifo": None,
                    "link-to-directory": "unicode-\u540d\u524d"})
    fd = os.open(top, os.O_RDONLY)
    for level in range(300):  # each level made from its parent: no path names it
        name = "very-deep-%03d-%s" % (level, "x" * 20)
        os.mkdir(name, dir_fd=fd)
        fd, parent = os.open(name, os.O_RDONLY, dir_fd=fd), fd
        os.close(parent)
    with open("leaf.txt", "wb", opener=lambda name, flags: os.open(name, flags, 0o666, dir_fd=fd)) as f:
        f.write(b"past the path limit\n")
    os.close(fd)


def main():
    program, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    scratch = os.path.join(work, "names")
    make_scratch_tree(scratch)
    tally = Tally("tree differential")
    for root, copy_root, absent in (("/usr", "/usr/share", ()),
                                    (scratch, scratch, ("fifo", "broken-link", "with space", "tab"))):
        files = check_listing(program, root, work, tally)
        check_existence(program, root, files, work, tally, absent)
        if copy_root != root:  # the regular files only, links not followed
            files = {path: size for path, size in found_files(copy_root, False).items() if carried(path)}
        check_copies(program, copy_root, files, work, tally)
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(not tally.report("%(files listed)d files listed, %(names tested)d names tested, "
                              "%(files stored and restored)d files stored and restored, "
                              "%(names left out and reported)d names left out and reported"))


if __name__ == "__main__":
    main()
