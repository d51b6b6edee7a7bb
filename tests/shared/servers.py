#!/usr/bin/python3
"""The kinds of store of the shared-store table, one class each: its server on loopback below
a home of its own, the store mounted twice (two machines). Every process started for a home
carries the home in its environment (MARK), and daemons pass it on to what they start, so that
`servers.py cleanup ROOT` finds them all, also after their starter was killed. A server that
cannot run here raises Unavailable with one line saying why."""
import glob
import os
import signal
import socket
import subprocess
import sys
import time

MARK = "RAZADEDEZUZEV_SHARED_HOME"


class Unavailable(Exception):
    pass


def run(*command, timeout=60, check=True, env=None):
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    except FileNotFoundError:
        raise Unavailable(f"{command[0]} is not installed") from None
    if check and result.returncode != 0:
        raise Unavailable(f"{' '.join(command)}: {(result.stderr or result.stdout).strip().splitlines()[-1:]}")
    return result.stdout


def spawn(*command, answers=lambda: True, env=None, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL):
    """A process in the foreground leading a process group (killpg ends it whole), once it answers."""
    process = subprocess.Popen(command, stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL, env=env,
                               start_new_session=True)
    wait_for(lambda: process.poll() is not None or answers(), f"{command} to answer")
    if process.poll() is not None:
        raise Unavailable(f"{' '.join(command)} ended at start")
    return process


def listening(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise Unavailable(f"{what} did not happen within {seconds} s")
        time.sleep(0.1)


def configure(path, sections, form="  {} = {}", end=()):
    """A configuration file: each section's head line, its settings as `form` says, then `end`."""
    with open(path, "w") as file:
        for head, settings in sections.items():
            print(head, *(form.format(*setting) for setting in settings.items()), *end, sep="\n", file=file)
    return path


class Store:
    """Two mounts of one store, the server's directories behind them (where readable), a directory that
    runs out of space and the server's side of it, a full disk's words, the road a file takes to its
    name as traced, how the server is stopped (by default its process, `server`), restarted, healed."""
    behind, full_behind, ports, heal = [], [], (), None
    full_texts = ("No space left on device", "Disk quota exceeded")
    road = ["openat O_TMPFILE EOPNOTSUPP", "fdatasync", "link", "fsync"]

    def __init__(self, home):
        self.home = home
        os.environ[MARK] = home + "/"  # passed on to every process started from here on
        if any(listening(port) for port in self.ports):
            raise Unavailable(f"{self.kind} skipped: a port of {self.ports} is taken (another server runs here)")
        self.setup()

    def stop(self):
        os.killpg(self.server.pid, signal.SIGKILL)
        self.server.wait()

    def path(self, *parts):
        return os.path.join(self.home, *parts)

    def directory(self, *parts):
        os.makedirs(self.path(*parts), exist_ok=True)
        return self.path(*parts)

    def mount(self, n, *command, env=None):
        """Runs the command that mounts at mount-N (given last, its log beside it as mount-N.log)."""
        path = self.directory(f"mount-{n}")
        run(*[part.replace("LOG", path + ".log") for part in command], path, env=env)
        return path

    def small_disk(self, name):
        """An ext4 of 24 MiB, loop-mounted (the loop device goes with the mount): a disk that runs full."""
        run("truncate", "-s", "24M", self.path(name + ".img"))
        run("mkfs.ext4", "-q", "-m", "0", self.path(name + ".img"))
        run("mount", "-o", "loop", self.path(name + ".img"), self.directory(name))
        return self.path(name)


class Local(Store):
    kind, road, stop = "local disk", ["openat O_TMPFILE", "fdatasync", "linkat", "fsync"], None

    def setup(self):
        self.mounts, self.full = [self.directory("store")] * 2, self.small_disk("full")


class Gluster(Store):
    """glusterd on 127.0.0.1 with its own working and run directories; the store a volume replicated
    over two bricks, the full store another over two small disks, mounted a third time."""
    kind, ports = "GlusterFS", (24007,)

    def setup(self):
        # The command line refuses 127.0.0.1 as a brick's host; a name of this
        # machine that resolves to loopback is accepted.
        host = socket.gethostname()
        if not socket.gethostbyname(host).startswith("127."):
            raise Unavailable(f"GlusterFS skipped: the host name {host} does not resolve to loopback")
        self.socket, work = self.path("glusterd.socket"), self.directory("work")
        run("cp", "-r", "/var/lib/glusterd/groups", "/var/lib/glusterd/hooks", work)
        options = {"working-directory": work, "run-directory": self.directory("run"), "glusterd-sockfile": self.socket,
                   "transport-type": "socket", "transport.address-family": "inet", "ping-timeout": 0,
                   "transport.socket.bind-address": "127.0.0.1", "transport.socket.listen-port": 24007,
                   "event-threads": 1}
        volfile = configure(self.path("glusterd.vol"), {"volume management\n  type mgmt/glusterd": options},
                            "  option {} {}", ["end-volume"])
        run("glusterd", "-f", volfile, "-p", self.path("glusterd.pid"), "-l", self.path("glusterd.log"))
        wait_for(lambda: os.path.exists(self.socket), "glusterd start")
        self.behind, self.full_behind = [self.directory("bricks", n) for n in "12"], [self.small_disk(f"full-{n}")
                                                                                      for n in "12"]
        for volume, bricks in (("rzstore", self.behind), ("rzfull", self.full_behind)):
            self.cli("volume", "create", volume, "replica", "2", *[f"{host}:{brick}" for brick in bricks], "force")
            # A server that stops answering is given up after 5 s (42 by default).
            for key, value in (("network.ping-timeout", 5), ("network.frame-timeout", 30)):
                self.cli("volume", "set", volume, key, str(value))
            self.cli("volume", "start", volume)
        *self.mounts, self.full = [self.mount(n, "mount", "-t", "glusterfs", "-o", "log-file=LOG", f"127.0.0.1:/{name}")
                                   for n, name in ((1, "rzstore"), (2, "rzstore"), (3, "rzfull"))]

    def cli(self, *args):
        return run("gluster", f"--glusterd-sock={self.socket}", "--mode=script", *args)

    def stop(self, number=signal.SIGSTOP):
        """Both bricks of the store stop answering (SIGCONT: answer again)."""
        for pidfile in glob.glob(self.path("run", "vols", "rzstore", "*.pid")):
            os.kill(int(open(pidfile).read()), number)

    def restart(self):
        self.stop(signal.SIGCONT)

    def heal(self):
        self.cli("volume", "heal", "rzstore")


class Smb(Store):
    """smbd on 127.0.0.1:445, one share per directory, guests writing as root; each mount
    smbnetfs (FUSE over libsmbclient), the shares below 127.0.0.1/ there."""
    kind, ports = "SMB (smbnetfs)", (445,)
    road = Store.road[:2] + ["link EPERM", "renameat2 EINVAL", "openat O_EXCL", "fsync"]

    def setup(self):
        self.behind, self.full_behind = [self.directory("share")], [self.small_disk("full-share")]
        settings = {"interfaces": "127.0.0.1", "bind interfaces only": "yes", "smb ports": 445,
                    "disable netbios": "yes", "server role": "standalone server", "map to guest": "Bad User",
                    "guest account": "root", "load printers": "no", "printcap name": "/dev/null",
                    "disable spoolss": "yes", "log file": self.path("smbd.log"),
                    **{key + (" dir" if key == "private" else " directory"): self.directory(key)
                       for key in ("private", "lock", "state", "cache", "pid")}}
        self.config = configure(self.path("smb.conf"), {"[global]": settings, **{
            f"[{share}]": {"path": path, "read only": "no", "guest ok": "yes", "force user": "root"}
            for share, path in (("store", self.behind[0]), ("full", self.full_behind[0]))}})
        self.restart()
        # smbnetfs reads its settings (and libsmbclient's) from $HOME/.smb.
        smb = self.directory("client", ".smb")
        configure(os.path.join(smb, "smb.conf"), {"[global]": {"client min protocol": "SMB2"}})
        os.chmod(configure(os.path.join(smb, "smbnetfs.conf"), dict.fromkeys(
            ['auth "guest" ""', "host 127.0.0.1 visible=true"], {})), 0o600)
        for n in (1, 2):
            self.mount(n, "smbnetfs", "-o", "smb_query_browsers=false,smb_timeout=10000,log_file=LOG",
                       env=dict(os.environ, HOME=self.path("client")))
        self.mounts = [self.path(f"mount-{n}", "127.0.0.1", "store") for n in (1, 2)]
        self.full = self.path("mount-1", "127.0.0.1", "full")
        wait_for(lambda: all(map(os.path.isdir, self.mounts)), "the shares at the mounts")

    def restart(self):
        # smbd ends when its standard input does, so that is a pipe kept open.
        self.server = spawn("smbd", "-F", "--no-process-group", "-s", self.config, answers=lambda: listening(445),
                            stdin=subprocess.PIPE)


class Ceph(Store):
    """A one-node CephFS on 127.0.0.1 (a monitor, a manager, an object store daemon keeping its data
    in memory, a metadata server); each mount a ceph-fuse process. The full directory keeps its
    files in a second data pool, rz_full, with a quota of 24 MiB."""
    kind, ports, fsid = "CephFS", (13300, 16789), "6b1f2d5e-6a8e-4c9f-9a55-0f6c1d2a3b4c"
    memory = 1536 << 20  # the object store's room; removed files leave it only when purged, later

    def setup(self):
        memory = self.memory
        self.config, address = self.path("ceph.conf"), f"[v2:127.0.0.1:{self.ports[0]},v1:127.0.0.1:{self.ports[1]}]"
        for part in ("run", "log", "data/mon.a", "data/mgr.x", "data/osd.0", "data/mds.a"):
            self.directory(part)
        settings = {"fsid": self.fsid, "mon host": address, "public addr": "127.0.0.1", "cluster addr": "127.0.0.1",
                    "ms bind port min": 17300, "ms bind port max": 17399, "osd objectstore": "memstore",
                    "memstore device bytes": memory, "osd pool default size": 1, "osd pool default min size": 1,
                    "osd crush chooseleaf type": 0, "mon allow pool size one": "true",
                    "mon warn on pool no redundancy": "false", "osd pool default pg autoscale mode": "off",
                    **{f"auth {who} required": "none" for who in ("cluster", "service", "client")},
                    "run dir": self.path("run"), "pid file": self.path("run", "$name.pid"),
                    "admin socket": self.path("run", "$name.asok"), "log file": self.path("log", "$name.log"),
                    **{f"{daemon} data": self.path("data", "$name") for daemon in ("mon", "osd", "mds", "mgr")}}
        # A second mount starts only with a pid file and socket of its own.
        client = {what: self.path(where, f"$name.$pid.{end}") for what, where, end in (
            ("pid file", "run", "pid"), ("admin socket", "run", "asok"), ("log file", "log", "log"))}
        configure(self.config, {"[global]": settings, "[client]": client})
        run("monmaptool", "--create", "--fsid", self.fsid, "--addv", "a", address, self.path("monmap"))
        run("ceph-mon", "-c", self.config, "--mkfs", "-i", "a", "--monmap", self.path("monmap"))
        for daemon in ("mon.a", "mgr.x"):
            self.restart(daemon)
        self.cli("osd", "new", self.fsid)  # the object store daemon's own id
        run("ceph-osd", "-c", self.config, "-i", "0", "--mkfs", "--osd-uuid", self.fsid, timeout=120)
        for daemon in ("osd.0", "mds.a"):
            self.restart(daemon)
        for pool in ("rz_meta", "rz_data", "rz_full"):
            self.cli("osd", "pool", "create", pool, "8")
        self.cli("fs", "new", "rzfs", "rz_meta", "rz_data", "--force")
        self.cli("fs", "add_data_pool", "rzfs", "rz_full")
        wait_for(lambda: "up:active" in self.cli("mds", "stat"), "the metadata server to be active", 60)
        self.mounts = [self.mount(n, "ceph-fuse", "-c", self.config) for n in (1, 2)]
        self.full = self.directory("mount-1", "full")
        os.setxattr(self.full, "ceph.dir.layout.pool", b"rz_full")
        self.cli("osd", "pool", "set-quota", "rz_full", "max_bytes", str(24 << 20))
        # A pool over its quota refuses writes only once the monitor has seen
        # it full: filled first, then the job finds it full.
        run("dd", "if=/dev/zero", f"of={self.full}/filler", "bs=1M", "count=32", check=False)
        wait_for(lambda: "full_quota" in self.cli("osd", "pool", "ls", "detail"), "the quota to be reached", 60)

    def cli(self, *args):
        return run("ceph", "-c", self.config, *args)

    def restart(self, daemon="mds.a"):
        run(f"ceph-{daemon.split('.')[0]}", "-c", self.config, "-i", daemon.split(".")[1], timeout=120)

    def stop(self):
        """The metadata server killed."""
        os.kill(int(open(self.path("run", "mds.a.pid")).read()), signal.SIGKILL)


class Nfs(Store):
    """nfs-ganesha exporting two directories over NFSv3 with the rpcbind it needs, in a network
    namespace holding only the loopback (kept by a bind mount below the home). Each mount is a
    client of its own there (gvfs's libnfs back end behind gvfsd-fuse, its own session bus)."""
    kind, road = "NFS (gvfs)", Store.road[:2] + ["link EPERM", "renameat2", "fsync"]
    full_texts = ("Input/output error",)  # gvfs answers every failure of the server with EIO, a full disk too

    def setup(self):
        self.behind, self.full_behind = [self.directory("export")], [self.small_disk("full-export")]
        exports, self.enter = self.behind + self.full_behind, ["nsenter", f"--net={self.path('netns')}"]
        open(self.path("netns"), "w").close()
        run("unshare", f"--net={self.path('netns')}", "ip", "link", "set", "lo", "up")
        spawn(*self.enter, "rpcbind", "-w", "-f")
        share = {"Access_Type": "RW", "Protocols": 3, "Squash": "No_Root_Squash", "Transports": "TCP", "SecType": "sys"}
        self.config = configure(self.path("ganesha.conf"), {
            "NFS_CORE_PARAM {": {"Protocols": 3, "Enable_NLM": "false", "Enable_RQUOTA": "false"},
            **{f"EXPORT {{ Export_Id = {n}; FSAL {{ Name = VFS; }}": {"Path": path, "Pseudo": path, **share}
               for n, path in enumerate(exports, 1)}}, "  {} = {};", ["}"])
        self.restart()
        for n in (1, 2):
            home = self.directory("clients", str(n))
            env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, GVFS_REMOTE_VOLUME_MONITOR_IGNORE="1")
            bus = spawn(*self.enter, "dbus-daemon", "--session", "--nofork", "--print-address=1", env=env,
                        stdout=subprocess.PIPE)
            env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
            spawn(*self.enter, "/usr/libexec/gvfsd", "--no-fuse", env=env)
            spawn(*self.enter, "/usr/libexec/gvfsd-fuse", self.directory(f"mount-{n}"), "-f", "-o", "allow_other",
                  answers=lambda: mount_points(self.path(f"mount-{n}")), env=env)
            for export in exports:
                run(*self.enter, "gio", "mount", f"nfs://127.0.0.1{export}", env=env)
        at = [self.path(f"mount-{n}", "nfs:host=127.0.0.1,prefix=" + export.replace("/", "%2F"))
              for n, export in ((1, exports[0]), (2, exports[0]), (1, exports[1]))]
        self.mounts, self.full = at[:2], at[2]

    def restart(self):
        answers = lambda: run(*self.enter, "rpcinfo", "-t", "127.0.0.1", "nfs", "3", check=False).startswith("program")
        self.server = spawn(*self.enter, "ganesha.nfsd", "-F", "-f", self.config, "-L", self.path("ganesha.log"), "-p",
                            self.path("ganesha.pid"), answers=answers)


KINDS = {"local": Local, "GlusterFS": Gluster, "SMB": Smb, "CephFS": Ceph, "NFS": Nfs}


def mount_points(root):
    """The mount points at and below root, newest first."""
    points = [line.split()[1] for line in open("/proc/self/mounts")]
    return [point for point in reversed(points) if (point + "/").startswith(root + "/")]


def marked(root):
    """The processes started for a home below root, this one aside."""
    found, mark = [], f"\0{MARK}={os.path.normpath(root)}/".encode()
    for pid in [int(name) for name in os.listdir("/proc") if name.isdigit() and int(name) != os.getpid()]:
        try:
            found += [pid] if mark in b"\0" + open(f"/proc/{pid}/environ", "rb").read() else []
        except OSError:
            pass  # ended meanwhile
    return found


def cleanup(root):
    """Stops every process started for root (the FUSE clients among them), detaches every mount below
    it, newest first (the clients' before the disks the servers held), and removes it."""
    for pid in marked(root):
        arguments = open(f"/proc/{pid}/cmdline").read().split("\0") if os.path.exists(f"/proc/{pid}/cmdline") else []
        # glusterd gives its bricks sockets in the system's run directory.
        for flag, value in zip(arguments, arguments[1:]):
            if flag == "-S" and value.startswith("/var/run/gluster/") and value.endswith(".socket"):
                subprocess.call(["rm", "-f", value])
        subprocess.call(["kill", "-KILL", str(pid)], stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: not marked(root), "every process started to end")
    except Unavailable as reason:
        print(reason, file=sys.stderr)
    for point in mount_points(os.path.normpath(root)):
        subprocess.call(["timeout", "20", "umount", "-l", point])
    subprocess.call(["rm", "-rf", root])


if __name__ == "__main__" and sys.argv[1:2] == ["cleanup"]:
    cleanup(sys.argv[2])
