#!/usr/bin/python3
"""Servers of a store shared over the network, on loopback, below one scratch root.
What is started is noted in a `started` file below the root first, so that
`servers.py cleanup ROOT` undoes it all, also after its starter was killed. A server
that cannot run here raises Unavailable with one line saying why."""
import glob
import os
import signal
import socket
import subprocess
import sys
import time


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


def listening(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def refuse_taken(what, *ports):
    """A server of this kind already listening here: its ports are not ours."""
    if any(listening(port) for port in ports):
        raise Unavailable(f"{what} skipped: a port of {ports} is taken (another server runs here)")


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise Unavailable(f"{what} did not happen within {seconds} s")
        time.sleep(0.1)


def write_text(path, text):
    with open(path, "w") as file:
        file.write(text)
    return path


def stop(process):
    """Stops a server started by Registry.spawn, with every process it started."""
    os.killpg(process.pid, signal.SIGKILL)
    process.wait()


def mounted(path):
    return any(line.split()[1] == path for line in open("/proc/self/mounts"))


class Registry:
    """What was started below a root, written down before anything else."""

    def __init__(self, root):
        self.root = root
        os.makedirs(root, exist_ok=True)

    def note(self, kind, value):
        with open(os.path.join(self.root, "started"), "a") as record:
            print(kind, value, file=record)

    def spawn(self, command, env=None, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL):
        """A server in the foreground, leading a process group that stop() ends whole."""
        process = subprocess.Popen(command, stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL, env=env,
                                   start_new_session=True)
        self.note("group", process.pid)
        return process

    def mount(self, path, *command, env=None):
        """Runs the command that mounts at `path` (already there), noted first."""
        self.note("mount", path)
        run(*command, env=env)
        return path

    def directory(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def small_file_system(self, name, mebibytes):
        """An ext4 image of that size, loop-mounted: a disk that runs full."""
        image, path = os.path.join(self.root, name + ".img"), self.directory(name)
        run("truncate", "-s", f"{mebibytes}M", image)
        run("mkfs.ext4", "-q", "-m", "0", image)
        device = run("losetup", "--find", "--show", image).strip()
        self.note("loop", device)
        return self.mount(path, "mount", device, path)


class Gluster:
    """glusterd on 127.0.0.1 with its own working and run directories."""

    def __init__(self, registry):
        self.registry = registry
        refuse_taken("GlusterFS", 24007)
        # The command line refuses 127.0.0.1 as a brick's host; a name of this
        # machine that resolves to loopback is accepted.
        self.host = socket.gethostname()
        if not socket.gethostbyname(self.host).startswith("127."):
            raise Unavailable(f"GlusterFS skipped: the host name {self.host} does not resolve to loopback")
        self.home = registry.directory("gluster")
        self.socket, work = os.path.join(self.home, "glusterd.socket"), registry.directory("gluster", "work")
        run("cp", "-r", "/var/lib/glusterd/groups", "/var/lib/glusterd/hooks", work)
        options = {"working-directory": work, "run-directory": registry.directory("gluster", "run"),
                   "glusterd-sockfile": self.socket, "transport-type": "socket", "transport.address-family": "inet",
                   "transport.socket.bind-address": "127.0.0.1", "transport.socket.listen-port": 24007,
                   "ping-timeout": 0, "event-threads": 1}
        volfile = write_text(os.path.join(self.home, "glusterd.vol"), "volume management\n  type mgmt/glusterd\n" +
                             "".join(f"  option {k} {v}\n" for k, v in options.items()) + "end-volume\n")
        pidfile = os.path.join(self.home, "glusterd.pid")
        run("glusterd", "-f", volfile, "-p", pidfile, "-l", os.path.join(self.home, "glusterd.log"))
        wait_for(lambda: os.path.exists(pidfile) and os.path.exists(self.socket), "glusterd start")
        self.registry.note("pid", open(pidfile).read().strip())
        self.registry.note("pidfiles", registry.directory("gluster", "run"))

    def cli(self, *args):
        return run("gluster", f"--glusterd-sock={self.socket}", "--mode=script", *args)

    def volume(self, name, bricks, options=()):
        """A volume replicated over the brick directories, with (key, value) options, started."""
        self.cli("volume", "create", name, "replica", str(len(bricks)),
                 *[f"{self.host}:{brick}" for brick in bricks], "force")
        for key, value in options:
            self.cli("volume", "set", name, key, str(value))
        self.cli("volume", "start", name)
        return name

    def mount(self, name, path):
        return self.registry.mount(path, "mount", "-t", "glusterfs", "-o", f"log-file={path}.log", f"127.0.0.1:/{name}", path)


class Samba:
    """smbd on 127.0.0.1:445, one share per directory, guests writing as root."""

    def __init__(self, registry, shares):
        self.registry = registry
        refuse_taken("SMB", 445)
        home = registry.directory("samba")
        settings = {"interfaces": "127.0.0.1", "bind interfaces only": "yes", "smb ports": "445", "disable netbios": "yes",
                    "server role": "standalone server", "map to guest": "Bad User", "guest account": "root",
                    "load printers": "no", "printcap name": "/dev/null", "disable spoolss": "yes",
                    "log file": os.path.join(home, "smbd.log")}
        for key in ("private", "lock", "state", "cache", "pid"):
            settings[key + " dir" if key == "private" else key + " directory"] = registry.directory("samba", key)
        config = write_text(os.path.join(home, "smb.conf"), "[global]\n" + "".join(
            f"  {k} = {v}\n" for k, v in settings.items()) + "".join(
            f"[{share}]\n  path = {path}\n  read only = no\n  guest ok = yes\n  force user = root\n"
            for share, path in shares.items()))
        # smbd ends when its standard input does, so that is a pipe kept open.
        self.process = registry.spawn(["smbd", "-F", "--no-process-group", "-s", config], stdin=subprocess.PIPE)
        wait_for(lambda: self.process.poll() is not None or listening(445), "smbd start")
        if self.process.poll() is not None:
            raise Unavailable(f"SMB skipped: smbd ended at start, see {settings['log file']}")
        # smbnetfs reads its settings (and libsmbclient's) from $HOME/.smb.
        self.client_home = registry.directory("samba", "client")
        smb = registry.directory("samba", "client", ".smb")
        write_text(os.path.join(smb, "smb.conf"), "[global]\n  client min protocol = SMB2\n")
        os.chmod(write_text(os.path.join(smb, "smbnetfs.conf"), 'auth "guest" ""\nhost 127.0.0.1 visible=true\n'), 0o600)

    def mount(self, path, share):
        """Mounts the server's shares at `path`; returns the share's directory."""
        self.registry.mount(path, "smbnetfs", path, "-o", f"smb_query_browsers=false,smb_timeout=10000,log_file={path}.log",
                            env=dict(os.environ, HOME=self.client_home))
        directory = os.path.join(path, "127.0.0.1", share)
        wait_for(lambda: os.path.isdir(directory), f"the share {share} at {path}")
        return directory


class Ceph:
    """A one-node CephFS on 127.0.0.1 (a monitor, a manager, an object store
    daemon keeping its data in memory, a metadata server), all below ROOT/ceph;
    each mount is a ceph-fuse process. rz_full is a second data pool, for quotas."""

    def __init__(self, registry, ports=(13300, 16789), memory=1536 << 20):
        self.registry, self.home = registry, registry.directory("ceph")
        refuse_taken("CephFS", *ports)
        self.config, fsid, home = os.path.join(self.home, "ceph.conf"), "6b1f2d5e-6a8e-4c9f-9a55-0f6c1d2a3b4c", self.home
        address = f"[v2:127.0.0.1:{ports[0]},v1:127.0.0.1:{ports[1]}]"
        settings = [f"fsid = {fsid}", f"mon host = {address}", "public addr = 127.0.0.1", "cluster addr = 127.0.0.1",
                    "ms bind port min = 17300", "ms bind port max = 17399", "osd objectstore = memstore",
                    f"memstore device bytes = {memory}", "osd pool default size = 1", "osd pool default min size = 1",
                    "osd crush chooseleaf type = 0", "mon allow pool size one = true",
                    "mon warn on pool no redundancy = false", "osd pool default pg autoscale mode = off"]
        settings += [f"auth {who} required = none" for who in ("cluster", "service", "client")]
        settings += [f"{what} = {home}/{where}" for what, where in (
            ("run dir", "run"), ("pid file", "run/$name.pid"), ("admin socket", "run/$name.asok"),
            ("log file", "log/$name.log"), *((f"{daemon} data", "data/$name") for daemon in ("mon", "osd", "mds", "mgr")))]
        # A second mount starts only with a pid file and socket of its own.
        client = [f"{what} = {home}/{where}.$pid.{end}" for what, where, end in (
            ("pid file", "run/$name", "pid"), ("admin socket", "run/$name", "asok"), ("log file", "log/$name", "log"))]
        write_text(self.config, "[global]\n" + "\n".join(settings) + "\n[client]\n" + "\n".join(client) + "\n")
        [registry.directory("ceph", *part.split("/")) for part in ("run", "log", "data/mon.a", "data/mgr.x", "data/osd.0", "data/mds.a")]
        registry.note("pidfiles", os.path.join(home, "run"))
        run("monmaptool", "--create", "--fsid", fsid, "--addv", "a", address, os.path.join(home, "monmap"))
        run("ceph-mon", "-c", self.config, "--mkfs", "-i", "a", "--monmap", os.path.join(home, "monmap"))
        for daemon in ("mon.a", "mgr.x"):
            self.start(daemon)
        self.cli("osd", "new", fsid)  # the object store daemon's own id
        run("ceph-osd", "-c", self.config, "-i", "0", "--mkfs", "--osd-uuid", fsid, timeout=120)
        for daemon in ("osd.0", "mds.a"):
            self.start(daemon)
        for pool in ("rz_meta", "rz_data", "rz_full"):
            self.cli("osd", "pool", "create", pool, "8")
        self.cli("fs", "new", "rzfs", "rz_meta", "rz_data", "--force")
        self.cli("fs", "add_data_pool", "rzfs", "rz_full")
        wait_for(lambda: "up:active" in self.cli("mds", "stat"), "the metadata server to be active", 60)

    def cli(self, *args):
        return run("ceph", "-c", self.config, *args)

    def start(self, daemon):
        run(f"ceph-{daemon.split('.')[0]}", "-c", self.config, "-i", daemon.split(".")[1], timeout=120)

    def mount(self, path):
        return self.registry.mount(path, "ceph-fuse", "-c", self.config, path)



class Nfs:
    """nfs-ganesha exporting directories over NFSv3 with the rpcbind it needs, in a network
    namespace holding only the loopback. Each mount is a client of its own there (gvfs's
    libnfs back end behind gvfsd-fuse, its own session bus), seen by every program."""

    def __init__(self, registry, exports):
        self.registry, self.exports, self.home = registry, exports, registry.directory("nfs")
        namespace = f"razadedezuzev-{os.getpid()}"
        run("ip", "netns", "add", namespace)
        registry.note("netns", namespace)
        run("ip", "-n", namespace, "link", "set", "lo", "up")
        self.enter = ["nsenter", f"--net=/run/netns/{namespace}"]
        self.spawn("rpcbind", "-w", "-f")
        self.config = write_text(os.path.join(self.home, "ganesha.conf"), "".join(
            ["NFS_CORE_PARAM { Protocols = 3; Enable_NLM = false; Enable_RQUOTA = false; }\n"] +
            [f"EXPORT {{ Export_Id = {n}; Path = {path}; Pseudo = {path}; Access_Type = RW; Protocols = 3; Squash = "
             "No_Root_Squash; Transports = TCP; SecType = sys; FSAL { Name = VFS; } }\n" for n, path in enumerate(exports, 1)]))
        self.start()

    def spawn(self, *command, env=None, stdout=subprocess.DEVNULL):
        return self.registry.spawn([*self.enter, *command], env=env, stdout=stdout)

    def start(self):
        self.server = self.spawn("ganesha.nfsd", "-F", "-f", self.config, "-L", os.path.join(self.home, "ganesha.log"),
                                 "-p", os.path.join(self.home, "ganesha.pid"))
        answers = lambda: run(*self.enter, "rpcinfo", "-t", "127.0.0.1", "nfs", "3", check=False)  # noqa: E731
        wait_for(lambda: self.server.poll() is not None or answers().startswith("program"), "ganesha start")
        if self.server.poll() is not None:
            raise Unavailable(f"NFS skipped: ganesha.nfsd ended at start, see {self.home}/ganesha.log")

    def mount(self, path):
        """Mounts every export at `path`; returns their directories there."""
        home = self.registry.directory("nfs", os.path.basename(path))
        env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, GVFS_REMOTE_VOLUME_MONITOR_IGNORE="1")
        bus = self.spawn("dbus-daemon", "--session", "--nofork", "--print-address=1", env=env, stdout=subprocess.PIPE)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        self.spawn("/usr/libexec/gvfsd", "--no-fuse", env=env)
        self.spawn("/usr/libexec/gvfsd-fuse", path, "-f", "-o", "allow_other", env=env)
        self.registry.note("mount", path)
        wait_for(lambda: mounted(path), f"gvfsd-fuse at {path}")
        for export in self.exports:
            run(*self.enter, "gio", "mount", f"nfs://127.0.0.1{export}", env=env)
        return [os.path.join(path, "nfs:host=127.0.0.1,prefix=" + export.replace("/", "%2F")) for export in self.exports]


def remove_own_socket(pid):
    """glusterd gives its bricks sockets in the system's run directory."""
    arguments = open(f"/proc/{pid}/cmdline").read().split("\0") if os.path.exists(f"/proc/{pid}/cmdline") else []
    for flag, value in zip(arguments, arguments[1:]):
        if flag == "-S" and value.startswith("/var/run/gluster/") and value.endswith(".socket"):
            subprocess.call(["rm", "-f", value])


def cleanup(root):
    """Unmounts, stops and detaches what the registries below root name
    (root's own and each server's), newest first."""
    homes = [root] + [os.path.join(root, name) for name in (os.listdir(root) if os.path.isdir(root) else [])]
    lines = [line for home in homes if not mounted(home) and os.path.exists(os.path.join(home, "started"))
             for line in open(os.path.join(home, "started")).read().split("\n") if line]
    entries = [line.split(" ", 1) for line in reversed(lines)]
    # Client mounts first (their servers still answer), then the processes,
    # then what the servers held open (a brick's or share's own disk).
    for attempt in ("first", "last"):
        for kind, value in entries:
            if kind == "mount" and mounted(value) and subprocess.call(["timeout", "20", "umount", value], stderr=subprocess.DEVNULL):
                if attempt == "last":
                    subprocess.call(["timeout", "20", "umount", "-l", value])
        if attempt == "last":
            break
        for kind, value in entries:
            pids = [int(value)] if kind in ("pid", "group") else []
            if kind == "pidfiles":  # the bricks and healing daemons glusterd started
                pids = [int(open(f).read().strip() or 0) for f in glob.glob(value + "/**/*.pid", recursive=True)]
            for pid, name in ((pid, name) for pid in pids if pid > 0 for name in ("CONT", "KILL")):
                remove_own_socket(pid)
                subprocess.call(["kill", f"-{name}", "--", f"-{pid}" if kind == "group" else str(pid)], stderr=subprocess.DEVNULL)
        time.sleep(0.5)
    for kind, value in entries:
        undo = {"loop": ["losetup", "-d", value], "netns": ["ip", "netns", "delete", value]}.get(kind)
        subprocess.call(undo, stderr=subprocess.DEVNULL) if undo else None
    subprocess.call(["rm", "-rf", root])


if __name__ == "__main__" and sys.argv[1:2] == ["cleanup"]:
    cleanup(sys.argv[2])
