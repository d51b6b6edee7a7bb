#!/usr/bin/python3
"""Servers of a store shared over the network, on loopback, below one scratch root:
a GlusterFS volume replicated over two bricks, and a Samba share mounted through
smbnetfs (FUSE over libsmbclient). Each volume or share is mounted twice, one mount
for each machine a server application would run on.

Everything started is recorded in ROOT/started (processes by id, mounts, loop
devices), so that `servers.py cleanup ROOT` undoes it all, also after the process
that started it was killed. Starting a server that cannot run raises Unavailable
with one line saying why.
"""
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
    result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    if check and result.returncode != 0:
        raise Unavailable(f"{' '.join(command)}: {(result.stderr or result.stdout).strip().splitlines()[-1:]}")
    return result.stdout


def port_taken(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise Unavailable(f"{what} did not happen within {seconds} s")
        time.sleep(0.1)


def mounted(path):
    with open("/proc/self/mounts") as mounts:
        return any(line.split()[1] == path for line in mounts)


class Registry:
    """What was started below a root, written down before anything else."""

    def __init__(self, root):
        self.root = root
        os.makedirs(root, exist_ok=True)

    def note(self, kind, value):
        with open(os.path.join(self.root, "started"), "a") as record:
            record.write(f"{kind} {value}\n")

    def directory(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def small_file_system(self, name, mebibytes):
        """An ext4 image of that size, loop-mounted: a disk that runs full."""
        image, path = os.path.join(self.root, name + ".img"), self.directory(name)
        with open(image, "wb") as file:
            file.truncate(mebibytes << 20)
        run("mkfs.ext4", "-q", "-m", "0", image)
        device = run("losetup", "--find", "--show", image).strip()
        self.note("loop", device)
        run("mount", device, path)
        self.note("mount", path)
        return path


class Gluster:
    """glusterd on 127.0.0.1 with its own working and run directories."""

    def __init__(self, registry):
        self.registry = registry
        if port_taken(24007):
            raise Unavailable("GlusterFS skipped: port 24007 is taken (another glusterd runs here)")
        # The command line refuses 127.0.0.1 as a brick's host; a name of this
        # machine that resolves to loopback is accepted.
        self.host = socket.gethostname()
        if not socket.gethostbyname(self.host).startswith("127."):
            raise Unavailable(f"GlusterFS skipped: the host name {self.host} does not resolve to loopback")
        self.home = registry.directory("gluster")
        self.socket = os.path.join(self.home, "glusterd.socket")
        volfile = os.path.join(self.home, "glusterd.vol")
        work = registry.directory("gluster", "work")
        run("cp", "-r", "/var/lib/glusterd/groups", "/var/lib/glusterd/hooks", work)
        with open(volfile, "w") as file:
            file.write("volume management\n  type mgmt/glusterd\n"
                       f"  option working-directory {work}\n"
                       f"  option run-directory {registry.directory('gluster', 'run')}\n"
                       f"  option glusterd-sockfile {self.socket}\n"
                       "  option transport-type socket\n  option transport.address-family inet\n"
                       "  option transport.socket.bind-address 127.0.0.1\n"
                       "  option transport.socket.listen-port 24007\n  option ping-timeout 0\n"
                       "  option event-threads 1\nend-volume\n")
        pidfile = os.path.join(self.home, "glusterd.pid")
        run("glusterd", "-f", volfile, "-p", pidfile, "-l", os.path.join(self.home, "glusterd.log"))
        wait_for(lambda: os.path.exists(pidfile) and os.path.exists(self.socket), "glusterd start")
        self.registry.note("pid", open(pidfile).read().strip())
        self.registry.note("pidfiles", registry.directory("gluster", "run"))

    def cli(self, *args, timeout=60):
        return run("gluster", f"--glusterd-sock={self.socket}", "--mode=script", *args, timeout=timeout)

    def volume(self, name, bricks, options=()):
        """A volume replicated over the brick directories, with (key, value)
        options, started."""
        self.cli("volume", "create", name, "replica", str(len(bricks)),
                 *[f"{self.host}:{brick}" for brick in bricks], "force")
        for key, value in options:
            self.cli("volume", "set", name, key, str(value))
        self.cli("volume", "start", name)
        return name

    def brick_pids(self, name):
        pids = []
        for pidfile in sorted(glob.glob(os.path.join(self.home, "run", "vols", name, "*.pid"))):
            pids.append(int(open(pidfile).read().strip()))
        return pids

    def mount(self, name, path):
        os.makedirs(path, exist_ok=True)
        run("mount", "-t", "glusterfs", "-o", f"log-file={path}.log", f"127.0.0.1:/{name}", path)
        self.registry.note("mount", path)
        return path


class Samba:
    """smbd on 127.0.0.1:445, one share per directory, guests writing as root."""

    def __init__(self, registry, shares):
        self.registry = registry
        if port_taken(445):
            raise Unavailable("SMB skipped: port 445 is taken (another SMB server runs here)")
        home = registry.directory("samba")
        config = os.path.join(home, "smb.conf")
        settings = {"interfaces": "127.0.0.1", "bind interfaces only": "yes", "smb ports": "445",
                    "disable netbios": "yes", "server role": "standalone server",
                    "map to guest": "Bad User", "guest account": "root", "load printers": "no",
                    "printcap name": "/dev/null", "disable spoolss": "yes",
                    "log file": os.path.join(home, "smbd.log")}
        for key in ("private", "lock", "state", "cache", "pid"):
            settings[key + " dir" if key == "private" else key + " directory"] = registry.directory("samba", key)
        with open(config, "w") as file:
            file.write("[global]\n" + "".join(f"  {k} = {v}\n" for k, v in settings.items()))
            for share, path in shares.items():
                file.write(f"[{share}]\n  path = {path}\n  read only = no\n  guest ok = yes\n  force user = root\n")
        # In the foreground, as the leader of its own process group: stopping
        # the group stops the server with every connection it serves. It ends
        # when its standard input does, so that is a pipe kept open.
        self.process = subprocess.Popen(["smbd", "-F", "--no-process-group", "-s", config],
                                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        self.registry.note("group", self.process.pid)
        wait_for(lambda: port_taken(445) or self.process.poll() is not None, "smbd start")
        if self.process.poll() is not None:
            raise Unavailable(f"SMB skipped: smbd ended at start, see {settings['log file']}")
        # smbnetfs reads its settings (and libsmbclient's) from $HOME/.smb.
        self.client_home = registry.directory("samba", "client")
        smb = registry.directory("samba", "client", ".smb")
        with open(os.path.join(smb, "smb.conf"), "w") as file:
            file.write("[global]\n  client min protocol = SMB2\n")
        with open(os.path.join(smb, "smbnetfs.conf"), "w") as file:
            file.write('auth "guest" ""\nhost 127.0.0.1 visible=true\n')
        os.chmod(os.path.join(smb, "smbnetfs.conf"), 0o600)

    def stop(self):
        os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()

    def mount(self, path, share):
        """Mounts the server's shares at `path`; returns the share's directory."""
        os.makedirs(path, exist_ok=True)
        environment = dict(os.environ, HOME=self.client_home)
        run("smbnetfs", path, "-o", f"smb_query_browsers=false,smb_timeout=10000,log_file={path}.log",
            env=environment, timeout=30)
        self.registry.note("mount", path)
        directory = os.path.join(path, "127.0.0.1", share)
        wait_for(lambda: os.path.isdir(directory), f"the share {share} at {path}")
        return directory


class Ceph:
    """A one-node CephFS on 127.0.0.1: a monitor, a manager, an object store
    daemon keeping its data in memory, a metadata server; every file of it
    below ROOT/ceph. Mounted through ceph-fuse, one process per mount."""

    PORTS = (13300, 16789)  # the monitor's v2 and v1 addresses
    DAEMONS = ("mon.a", "mgr.x", "osd.0", "mds.a")

    def __init__(self, registry, memory_mebibytes=1536):
        self.registry = registry
        if any(port_taken(port) for port in self.PORTS):
            raise Unavailable(f"CephFS skipped: port {self.PORTS} is taken (another monitor runs here)")
        self.home = registry.directory("ceph")
        self.config = os.path.join(self.home, "ceph.conf")
        v2, v1 = self.PORTS
        fsid = "6b1f2d5e-6a8e-4c9f-9a55-0f6c1d2a3b4c"
        home = self.home
        with open(self.config, "w") as file:
            file.write(f"""[global]
fsid = {fsid}
mon host = [v2:127.0.0.1:{v2},v1:127.0.0.1:{v1}]
public addr = 127.0.0.1
cluster addr = 127.0.0.1
ms bind port min = 17300
ms bind port max = 17399
auth cluster required = none
auth service required = none
auth client required = none
osd objectstore = memstore
memstore device bytes = {memory_mebibytes << 20}
osd pool default size = 1
osd pool default min size = 1
osd crush chooseleaf type = 0
mon allow pool size one = true
mon allow pool delete = true
mon warn on pool no redundancy = false
osd pool default pg autoscale mode = off
run dir = {home}/run
pid file = {home}/run/$name.pid
admin socket = {home}/run/$name.asok
log file = {home}/log/$name.log
mon data = {home}/data/$name
osd data = {home}/data/$name
mds data = {home}/data/$name
mgr data = {home}/data/$name
[client]
pid file = {home}/run/$name.$pid.pid
admin socket = {home}/run/$name.$pid.asok
log file = {home}/log/$name.$pid.log
client mount timeout = 30
""")
        for part in ("run", "log", "data/mon.a", "data/mgr.x", "data/osd.0", "data/mds.a"):
            registry.directory("ceph", *part.split("/"))
        self.registry.note("pidfiles", os.path.join(home, "run"))
        monmap = os.path.join(home, "monmap")
        run("monmaptool", "--create", "--fsid", fsid, "--addv", "a", f"[v2:127.0.0.1:{v2},v1:127.0.0.1:{v1}]",
            monmap)
        run("ceph-mon", "-c", self.config, "--mkfs", "-i", "a", "--monmap", monmap)
        self.start("mon.a")
        self.start("mgr.x")
        osd_uuid = "0b5d0c3e-2f4a-4e8b-b1a7-3c9d8e7f6a5b"
        self.cli("osd", "new", osd_uuid)
        run("ceph-osd", "-c", self.config, "-i", "0", "--mkfs", "--osd-uuid", osd_uuid, timeout=120)
        self.start("osd.0")
        self.start("mds.a")
        for pool in ("rz_meta", "rz_data", "rz_full"):
            self.cli("osd", "pool", "create", pool, "8")
        self.cli("fs", "new", "rzfs", "rz_meta", "rz_data", "--force")
        self.cli("fs", "add_data_pool", "rzfs", "rz_full")
        wait_for(lambda: "up:active" in self.cli("mds", "stat", check=False), "the metadata server to be active", 60)

    def cli(self, *args, check=True, timeout=60):
        return run("ceph", "-c", self.config, *args, timeout=timeout, check=check)

    def start(self, daemon):
        kind, name = daemon.split(".")
        run(f"ceph-{kind}", "-c", self.config, "-i", name, timeout=120)

    def pid(self, daemon):
        return int(open(os.path.join(self.home, "run", daemon + ".pid")).read().strip())

    def kill(self, daemon):
        os.kill(self.pid(daemon), signal.SIGKILL)

    def mount(self, path):
        os.makedirs(path, exist_ok=True)
        run("ceph-fuse", "-c", self.config, path, timeout=60)
        self.registry.note("mount", path)
        return path

    def pool_directory(self, mount, name, pool, quota_bytes):
        """A directory whose files go to `pool`, which holds at most `quota_bytes`."""
        path = os.path.join(mount, name)
        os.makedirs(path, exist_ok=True)
        os.setxattr(path, "ceph.dir.layout.pool", pool.encode())
        self.cli("osd", "pool", "set-quota", pool, "max_bytes", str(quota_bytes))
        return path


class Nfs:
    """nfs-ganesha (VFS back end) exporting directories over NFSv3, and the
    rpcbind it registers with, in a network namespace of their own that holds
    only the loopback. Each mount is a client of its own: gvfs's NFS back end
    (libnfs) behind gvfsd-fuse, with its own session bus, in that namespace;
    its FUSE mount is seen by every program."""

    def __init__(self, registry, exports):
        self.registry, self.exports = registry, exports
        self.home = registry.directory("nfs")
        self.namespace = f"razadedezuzev-{os.getpid()}"
        run("ip", "netns", "add", self.namespace)
        registry.note("netns", self.namespace)
        run("ip", "-n", self.namespace, "link", "set", "lo", "up")
        self.enter = ["nsenter", f"--net=/run/netns/{self.namespace}"]
        self.spawn("rpcbind", "-w", "-f")
        self.config = os.path.join(self.home, "ganesha.conf")
        with open(self.config, "w") as file:
            file.write("NFS_CORE_PARAM { Protocols = 3; Enable_NLM = false; Enable_RQUOTA = false; }\n"
                       f"NFSv4 {{ Graceless = true; RecoveryRoot = {self.home}/recovery; }}\n")
            for number, path in enumerate(exports, 1):
                file.write(f"EXPORT {{ Export_Id = {number}; Path = {path}; Pseudo = {path}; Access_Type = RW;"
                           " Squash = No_Root_Squash; Protocols = 3; Transports = TCP; SecType = sys;"
                           " FSAL { Name = VFS; } }\n")
        self.start()

    def spawn(self, *command, env=None, stdout=subprocess.DEVNULL):
        process = subprocess.Popen([*self.enter, *command], stdin=subprocess.DEVNULL, stdout=stdout,
                                   stderr=subprocess.DEVNULL, env=env, start_new_session=True)
        self.registry.note("group", process.pid)
        return process

    def start(self):
        self.server = self.spawn("ganesha.nfsd", "-F", "-f", self.config, "-L", os.path.join(self.home, "ganesha.log"),
                                 "-p", os.path.join(self.home, "ganesha.pid"), "-N", "NIV_EVENT")
        answers = lambda: run(*self.enter, "rpcinfo", "-t", "127.0.0.1", "nfs", "3", check=False,  # noqa: E731
                              timeout=10).startswith("program")
        wait_for(lambda: self.server.poll() is not None or answers(), "ganesha start")
        if self.server.poll() is not None:
            raise Unavailable(f"NFS skipped: ganesha.nfsd ended at start, see {self.home}/ganesha.log")

    def stop(self):
        os.killpg(self.server.pid, signal.SIGKILL)
        self.server.wait()

    def mount(self, path):
        """A client of its own mounting every export; returns each export's
        directory on it, in the order of the exports."""
        home = self.registry.directory("nfs", os.path.basename(path))
        env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, GVFS_REMOTE_VOLUME_MONITOR_IGNORE="1")
        bus = self.spawn("dbus-daemon", "--session", "--nofork", "--print-address=1", env=env, stdout=subprocess.PIPE)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        self.spawn("/usr/libexec/gvfsd", "--no-fuse", env=env)
        os.makedirs(path, exist_ok=True)
        self.spawn("/usr/libexec/gvfsd-fuse", path, "-f", "-o", "allow_other", env=env)
        self.registry.note("mount", path)
        wait_for(lambda: mounted(path), f"gvfsd-fuse at {path}")
        shares = []
        for export in self.exports:
            run(*self.enter, "gio", "mount", f"nfs://127.0.0.1{export}", env=env, timeout=30)
            shares.append(os.path.join(path, "nfs:host=127.0.0.1,prefix=" + export.replace("/", "%2F")))
            wait_for(lambda: os.path.isdir(shares[-1]), f"the export {export} at {path}")
        return shares


def remove_own_socket(pid):
    """glusterd gives its bricks sockets in the system's run directory."""
    try:
        arguments = open(f"/proc/{pid}/cmdline").read().split("\0")
    except OSError:
        return
    for flag, value in zip(arguments, arguments[1:]):
        if flag == "-S" and value.startswith("/var/run/gluster/") and value.endswith(".socket"):
            subprocess.call(["rm", "-f", value])


def cleanup(root, remove=True):
    """Unmounts, stops and detaches what the registries below root name
    (root's own and each server's), newest first."""
    lines = []
    for started in sorted(glob.glob(os.path.join(root, "started")) + glob.glob(os.path.join(root, "*", "started"))):
        lines += open(started).read().split("\n")
    lines.reverse()
    entries = [line.split(" ", 1) for line in lines if line]
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
            for pid in (pid for pid in pids if pid > 0):
                remove_own_socket(pid)
                for signal_number in (signal.SIGCONT, signal.SIGKILL):
                    try:
                        os.killpg(pid, signal_number) if kind == "group" else os.kill(pid, signal_number)
                    except (ProcessLookupError, PermissionError):
                        pass
        time.sleep(0.5)
    for kind, value in entries:
        if kind == "loop":
            subprocess.call(["losetup", "-d", value], stderr=subprocess.DEVNULL)
        if kind == "netns":
            subprocess.call(["ip", "netns", "delete", value], stderr=subprocess.DEVNULL)
    if remove:
        subprocess.call(["rm", "-rf", root])


if __name__ == "__main__" and sys.argv[1:2] == ["cleanup"]:
    cleanup(sys.argv[2])
