#!/usr/bin/env python3
"""The listing, existence and store modes on real trees:  trees.py PROGRAM SCRATCH

- list_files of /usr against `find -L /usr -type f` (links followed, as the
  program follows them; a directory already on the path is not entered
  again, as find's loop check): the same set of files and sizes, and the
  depth-first rule (the files below a directory come together, where it was
  met);
- test_file_existence of every file under /usr, and as many missing names;
- batch_copy_to_resource_store of every regular file under /usr/share, then
  batch_copy_from_resource_store back out: the digests against md5sum, the
  copies against the originals with diff -r;
- all three on a scratch tree of names /usr may lack: spaces, bytes that are
  not UTF-8, a path deeper than the system's path limit, links, a loop, a
  FIFO, names no result line or job can carry."""
import os
import shutil
import subprocess
import sys

from common import ENCODING, Tally, md5sums, run_job, uuid_of

LINE = 1022  # the longest line of a job


def found_files(root, follow=True):
    """find's regular files below root: {relative path: size}. Following links,
    find cannot go past the system's path limit; without, it can."""
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
    code, lines, err = run_job(program, "list_files", os.path.join(work, "job"), ["dir_path\t" + root])
    if code != 0:
        tally.differ(root, "list_files failed: " + err[-300:])
    found = found_files(root)
    listed = {}
    for line in lines:
        _, size, path = line.split("\t", 2)
        listed[path] = int(size)
    expected = {path: size for path, size in found.items() if carried(path)}
    left_out = len(found) - len(expected)
    for path in sorted(set(listed) ^ set(expected))[:20]:
        tally.differ(root, "%r only %s" % (path, "listed" if path in listed else "found by find"))
    for path in sorted(p for p in set(listed) & set(expected) if listed[p] != expected[p])[:20]:
        tally.differ(root, "%r: size %d, find %d" % (path, listed[path], expected[path]))
    if err.count("left out ") != left_out:
        tally.differ(root, "%d names left out, %d reported" % (left_out, err.count("left out ")))
    check_depth_first(root, [line.split("\t", 2)[2] for line in lines], tally)
    tally.counts["files listed"] += len(lines)
    tally.counts["names left out and reported"] += left_out
    return expected


def check_depth_first(root, paths, tally):
    """Once the listing has left a directory, no file below it comes again."""
    left, previous = set(), []
    for path in paths:
        directories = path.split("/")[:-1]
        common = 0
        while common < min(len(previous), len(directories)) and previous[common] == directories[common]:
            common += 1
        for depth in range(common, len(previous)):
            left.add(tuple(previous[:depth + 1]))
        for depth in range(common, len(directories)):
            if tuple(directories[:depth + 1]) in left:
                return tally.differ(root, "%r comes after its directory was left" % path)
        previous = directories


def check_existence(program, root, files, work, tally, absent=()):
    """Every file in its directory, a missing name beside each, one in a missing
    directory, and the names in `absent`, which are no regular files."""
    records = ["file\t%s\t%s\t%s\t1" % (uuid_of(0xFFFF00 + n), root, name) for n, name in enumerate(absent)]
    present = {}
    for n, (path, size) in enumerate(sorted(files.items())):
        directory, name = os.path.split(os.path.join(root, path))
        for k, (d, f) in enumerate([(directory, name), (directory, name + ".missing"),
                                    (os.path.join(directory, "no such directory"), name)]):
            line = "file\t%s\t%s\t%s\t1" % (uuid_of(3 * n + k), d, f)
            if len(line.encode("utf-8", "surrogateescape")) < LINE:
                records.append(line)
                if k == 0:
                    present[uuid_of(3 * n)] = size
    code, lines, err = run_job(program, "test_file_existence", os.path.join(work, "job"), records)
    if code != 0:
        tally.differ(root, "test_file_existence failed: " + err[-300:])
    answered = {}
    for line in lines:
        _, uuid, size = line.split("\t")
        answered[uuid] = int(size)
    if answered != present:
        wrong = sorted(set(answered.items()) ^ set(present.items()))
        tally.differ(root, "existence: %d answers differ, first %r" % (len(wrong), wrong[:3]))
    if [line.split("\t")[1] for line in lines] != sorted(answered, key=lambda u: int(u.rsplit("-", 1)[1], 16)):
        tally.differ(root, "existence answers out of record order")
    tally.counts["names tested"] += len(records)


def check_copies(program, root, files, work, tally):
    """Into the store and back out; digests against md5sum, copies against the originals."""
    store, restored = os.path.join(work, "store"), os.path.join(work, "restored")
    paths = sorted(path for path in files if len(path.encode("utf-8", "surrogateescape")) < LINE - 100)
    records = ["file\t%s\t%s\t%s\t%d" % (uuid_of(n), path, store, 3 if n % 2 else 1) for n, path in enumerate(paths)]
    code, lines, err = run_job(program, "batch_copy_to_resource_store", os.path.join(work, "job"),
                               ["input_base_dir_path\t" + root] + records)
    if code != 0 or len(lines) != len(records):
        tally.differ(root, "copy into the store: %d of %d, %s" % (len(lines), len(records), err[-300:]))
    sums = md5sums(paths, root)
    for line in lines:
        _, uuid, size, digest = line.split("\t")
        path = paths[int(uuid.rsplit("-", 1)[1], 16)]
        if digest != sums[path] or int(size) != files[path]:
            tally.differ(root, "%r stored with %s %s, md5sum %s, size %d" % (path, size, digest, sums[path], files[path]))
    code, lines, err = run_job(program, "batch_copy_from_resource_store", os.path.join(work, "job"),
                               ["output_base_dir_path\t" + restored] + records)
    if code != 0 or lines:
        tally.differ(root, "copy out of the store failed: " + err[-300:])
    diff = subprocess.run(["diff", "-r", "--no-dereference", root, restored], capture_output=True, **ENCODING)
    for line in diff.stdout.splitlines() + diff.stderr.splitlines():
        # What the store does not hold: links, FIFOs, directories without
        # files, names left out.
        prefix = "Only in %s" % root.rstrip("/")
        if line.startswith(prefix):
            directory, name = line[len("Only in "):].split(": ", 1)
            path = os.path.join(directory, name)
            if not os.path.isfile(path) or os.path.islink(path) or os.path.relpath(path, root) not in paths:
                continue
        elif line.startswith("File %s/" % root.rstrip("/")) and " is a symbolic link while file " in line:
            continue  # copied through the link
        tally.differ(root, "diff -r: " + line)
    tally.counts["files stored and restored"] += len(paths)
    shutil.rmtree(store, ignore_errors=True)
    shutil.rmtree(restored, ignore_errors=True)


def make_scratch_tree(top):
    """Names /usr may not have."""
    files = {b"with space/file name with  spaces.txt": b"spaces\n", b"latin-\xe9/\xff\xfe.bin": b"\xff\xfe\n",
             "unicode-\u540d\u524d/\u30d5\u30a1\u30a4\u30eb.txt".encode(): b"unicode\n",
             b"/".join(b"level-%02d" % i for i in range(60)) + b"/leaf.txt": b"deep\n",
             b"tab\there.txt": b"tab\n", b"back\\slash.txt": b"backslash\n", b"big.bin": os.urandom(3 << 20),
             b"empty": b""}
    for path, data in files.items():
        full = os.path.join(top.encode(), path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    os.symlink("big.bin", os.path.join(top, "link-to-file"))
    os.symlink("no such target", os.path.join(top, "broken-link"))
    os.symlink("..", os.path.join(top, "with space", "loop"))
    os.symlink("unicode-\u540d\u524d", os.path.join(top, "link-to-directory"))
    os.mkfifo(os.path.join(top, "fifo"))
    # Deeper than the path limit: each level made from its parent.
    fd = os.open(top, os.O_RDONLY)
    for level in range(300):
        name = "very-deep-%03d-%s" % (level, "x" * 20)
        os.mkdir(name, dir_fd=fd)
        child = os.open(name, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = child
    leaf = os.open("leaf.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
    os.write(leaf, b"past the path limit\n")
    os.close(leaf)
    os.close(fd)


def main():
    program, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    tally = Tally("tree differential")
    scratch = os.path.join(work, "names")
    os.mkdir(scratch)
    make_scratch_tree(scratch)
    for root, copy_root in (("/usr", "/usr/share"), (scratch, scratch)):
        files = check_listing(program, root, work, tally)
        check_existence(program, root, files, work, tally,
                        ("fifo", "broken-link", "with space", "tab") if root == scratch else ())
        if copy_root == root:
            check_copies(program, root, files, work, tally)
        else:
            check_copies(program, copy_root, {p: s for p, s in found_files(copy_root, False).items() if carried(p)},
                         work, tally)
    shutil.rmtree(work, ignore_errors=True)
    counts = tally.counts
    ok = tally.report("%d files listed, %d names tested, %d files stored and restored, %d names left out and reported"
                      % (counts["files listed"], counts["names tested"], counts["files stored and restored"],
                         counts["names left out and reported"]))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
