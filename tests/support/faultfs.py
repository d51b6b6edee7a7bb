#!/usr/bin/python3
"""A FUSE file system for the tests: the files of a backing directory, with faults
that real file systems have.

Usage: faultfs.py BACKING MOUNTPOINT [--quota BYTES] [--no-link] [--busy-unlink] [--eio NAME ...]

  --quota BYTES  writes are taken, but flushing or syncing a file larger than BYTES
                 fails with EDQUOT, as network file systems report a quota late
  --no-link      no hard links (EPERM), as on vfat; renaming without replacing
                 is not offered either (this API knows no rename flags)
  --busy-unlink  the first removal of each name fails with EBUSY, as an SMB server
                 refuses to delete a file whose close has not reached it yet
  --eio NAME     asking what an entry called NAME is fails with EIO

Entries are listed without their types, as by many user-space file systems.
Runs in the foreground until unmounted.
"""
import argparse
import errno
import os
import time

from fusepy import FUSE, FuseOSError, Operations


class FaultFS(Operations):
    def __init__(self, root, quota, no_link, busy_unlink, eio_names, hang_sync=0):
        self.root = root
        self.hang_sync = hang_sync
        self.busy = set() if busy_unlink else None
        self.quota = quota
        self.no_link = no_link
        self.eio_names = set(eio_names)

    def _real(self, path):
        if os.path.basename(path) in self.eio_names:
            raise FuseOSError(errno.EIO)
        return os.path.join(self.root, path.lstrip("/"))

    def __call__(self, operation, *args):
        try:
            return super().__call__(operation, *args)
        except OSError as error:
            raise FuseOSError(error.errno) from None

    def getattr(self, path, fh=None):
        st = os.lstat(self._real(path))
        keys = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime", "st_mtime", "st_ctime")
        return {key: getattr(st, key) for key in keys}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(os.path.join(self.root, path.lstrip("/")))

    def mkdir(self, path, mode): os.mkdir(self._real(path), mode)  # noqa: E704

    def unlink(self, path):
        if self.busy is not None and path not in self.busy:
            self.busy.add(path)
            raise FuseOSError(errno.EBUSY)
        os.unlink(self._real(path))

    def link(self, target, source):
        if self.no_link:
            raise FuseOSError(errno.EPERM)
        os.link(self._real(source), self._real(target))

    def rename(self, old, new): os.rename(self._real(old), self._real(new))  # noqa: E704

    def create(self, path, mode, fi=None):
        return os.open(self._real(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags): return os.open(self._real(path), flags)  # noqa: E704

    def read(self, path, size, offset, fh): return os.pread(fh, size, offset)  # noqa: E704

    def write(self, path, data, offset, fh): return os.pwrite(fh, data, offset)  # noqa: E704

    def truncate(self, path, length, fh=None): os.truncate(self._real(path), length)  # noqa: E704

    def _check_quota(self, fh):
        if self.quota is not None and os.fstat(fh).st_size > self.quota:
            raise FuseOSError(errno.EDQUOT)

    def flush(self, path, fh): self._check_quota(fh)  # noqa: E704

    def fsync(self, path, datasync, fh):
        time.sleep(self.hang_sync)  # a server that stops answering: the caller waits in the kernel
        self._check_quota(fh)
        os.fsync(fh)

    def release(self, path, fh): os.close(fh)  # noqa: E704


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("backing")
    parser.add_argument("mountpoint")
    parser.add_argument("--quota", type=int)
    parser.add_argument("--no-link", action="store_true")
    parser.add_argument("--busy-unlink", action="store_true")
    parser.add_argument("--eio", nargs="*", default=[])
    parser.add_argument("--hang-sync", type=float, default=0, help="seconds each fsync waits")
    args = parser.parse_args()
    FUSE(FaultFS(os.path.abspath(args.backing), args.quota, args.no_link, args.busy_unlink, args.eio, args.hang_sync),
         args.mountpoint, foreground=True, nothreads=True, allow_other=True)


if __name__ == "__main__":
    main()
