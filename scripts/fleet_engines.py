"""The real engines the fleet recipes run on, each started on this machine
inside the test's work folder and ended by its context manager on every way
out: a normal end, a failed check, an exception, SIGINT, SIGTERM or SIGHUP.

Each daemon is started in a session of its own, so that a signal meant for the
test reaches the test alone, and is ended with its whole process group and
every process below it. The hosts of the fleet are network namespaces of the
test's own, each with a veth pair in 10.213.77.0/27 (a /30 apiece), a range
used nowhere but inside them; where namespaces cannot be made, the sshd run on
loopback addresses instead.

Every process the test starts carries PT_FLEET_RUN=<work folder> in its
environment, directly or through the environment the recipes pass on, so that
the sweep at the end (fleet_run) can find one left running."""
import contextlib
import os
import shlex
import signal
import socket
import subprocess
import tempfile
import time

SUBNET = "10.213.77"
DAEMON_NAMES = ("munged", "slurmctld", "slurmd", "slurmstepd", "sshd")


class Failure(Exception):
    """A check of the test failed; the message says which and why."""


class Stopped(BaseException):
    """The test was sent a signal: it ends, everything it started with it."""

    def __init__(self, signum):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


class _Signals:
    depth = 0        # cleanups running now: a signal waits until they are done
    pending = None
    stopping = False


def _on_signal(signum, _frame):
    if _Signals.stopping:
        return
    if _Signals.depth:
        _Signals.pending = signum
        return
    _Signals.stopping = True
    raise Stopped(signum)


@contextlib.contextmanager
def shielded():
    """Holds back SIGINT, SIGTERM and SIGHUP while a context manager ends what
    it started, so that a cleanup is never cut short; the signal is acted on
    when the outermost cleanup is done."""
    _Signals.depth += 1
    try:
        yield
    finally:
        _Signals.depth -= 1
        if not _Signals.depth and _Signals.pending and not _Signals.stopping:
            signum, _Signals.pending, _Signals.stopping = _Signals.pending, None, True
            raise Stopped(signum)


def run(*argv, check=True, **kwargs):
    """A short command to its end; its output is returned, a failure raised."""
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True, **kwargs)
    if check and done.returncode != 0:
        raise Failure(f"{shlex.join(argv)}: exit {done.returncode}: {done.stderr.strip()}")
    return done.stdout


def wait_until(limit, what, test):
    """Polls test() until it is true, for at most limit seconds."""
    deadline = time.monotonic() + limit
    while not test():
        if time.monotonic() >= deadline:
            raise Failure(f"{what}: not ready after {limit} s")
        time.sleep(0.2)


def succeeds(*argv, env=None):
    return lambda: subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=15, env=env).returncode == 0


def free_ports(count):
    """count distinct TCP ports free on this machine now."""
    with contextlib.ExitStack() as held:
        sockets = [held.enter_context(socket.socket()) for _ in range(count)]
        for s in sockets:
            s.bind(("", 0))
        return [s.getsockname()[1] for s in sockets]


def _parents():
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", encoding="utf-8", errors="replace") as stat:
                    parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
    return parents


def _descendants(pid):
    parents, found, todo = _parents(), set(), [pid]
    while todo:
        parent = todo.pop()
        for child, its_parent in parents.items():
            if its_parent == parent and child not in found:
                found.add(child)
                todo.append(child)
    return found


def _alive(pid):
    """Whether pid still runs (an ended process its parent has not reaped yet does not)."""
    try:
        with open(f"/proc/{pid}/stat", encoding="utf-8", errors="replace") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] not in "ZX"
    except (OSError, IndexError):
        return False


def _signal_all(proc, pids, signum):
    with contextlib.suppress(ProcessLookupError, PermissionError):
        os.killpg(proc.pid, signum)
    for pid in pids:
        with contextlib.suppress(ProcessLookupError, PermissionError):
            os.kill(pid, signum)


def end_process(proc, grace=10):
    """Ends proc, its process group and every process below it: SIGTERM, and
    SIGKILL for what still runs after grace seconds. Nothing is sent once proc
    has been reaped: its number may be another process's by then."""
    if proc.returncode is not None:
        return
    with shielded():
        below = _descendants(proc.pid)
        _signal_all(proc, below, signal.SIGTERM)
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            if proc.poll() is not None and not any(map(_alive, below)):
                break
            time.sleep(0.1)
        _signal_all(proc, below | _descendants(proc.pid), signal.SIGKILL)
        proc.wait()


@contextlib.contextmanager
def process(argv, log, env=None, cwd=None, grace=10):
    """argv in a session of its own, its output into the file log; yields the
    Popen, and ends it with all it started when the block is left."""
    proc = None
    try:
        with open(log, "wb") as out:
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                    start_new_session=True, env=env, cwd=cwd)
        yield proc
    finally:
        if proc:
            end_process(proc, grace)


def _daemons_now(names=DAEMON_NAMES):
    found = set()
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            with contextlib.suppress(OSError), open(f"/proc/{entry}/comm", encoding="utf-8") as comm:
                if comm.read().strip() in names:
                    found.add(int(entry))
    return found


def leftovers(work, before):
    """Processes left running by the test: any (but this one and its callers)
    with the test's marker in its environment, and any daemon of the kinds the
    test starts that was not running before it began (one that has ended but
    is not reaped yet does not count)."""
    mine, pid, parents = set(), os.getpid(), _parents()
    while pid > 1:
        mine.add(pid)
        pid = parents.get(pid, 1)
    marker, found = f"PT_FLEET_RUN={work}".encode(), {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) in mine:
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as environ, open(f"/proc/{entry}/comm") as comm:
                marked, name = marker in environ.read().split(b"\0"), comm.read().strip()
        except OSError:
            continue
        if (marked or (name in DAEMON_NAMES and int(entry) not in before)) and _alive(entry):
            found[int(entry)] = name
    return found


@contextlib.contextmanager
def owned_folder(path):
    """A folder of one engine's files. When the block is left by a failure,
    the tail of each of its logs is shown (in CI the folder is gone after);
    then the folder is removed."""
    os.makedirs(path)
    try:
        yield path
    except BaseException:
        with shielded():
            for name in sorted(os.listdir(path)):
                log = os.path.join(path, name)
                if name.endswith((".log", ".out")) and os.path.getsize(log):
                    with open(log, encoding="utf-8", errors="replace") as text:
                        tail = text.read().splitlines()[-15:]
                    print(f"-- {os.path.basename(path)}/{name}:", *tail, sep="\n", flush=True)
        raise
    finally:
        with shielded():
            run("rm", "-rf", path, check=False)


@contextlib.contextmanager
def fleet_run():
    """The test's work folder, its marker in the environment and the signal
    handlers. On the way out, whatever way: a sweep for processes left running
    (ended, and a failure when the test had passed so far), and the folder
    removed."""
    before = _daemons_now()
    work = tempfile.mkdtemp(prefix="ptfleet-")
    os.chmod(work, 0o755)   # munged wants every folder above its socket open to all
    os.environ["PT_FLEET_RUN"] = work
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _on_signal)
    passed = False
    try:
        yield work
        passed = True
    finally:
        with shielded():
            left = leftovers(work, before)
            for pid in left:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGKILL)
            run("rm", "-rf", work, check=False)
        if left:
            message = "left running: " + ", ".join(f"{pid} {name}" for pid, name in sorted(left.items()))
            if passed:
                raise Failure(message)
            print(message + " (now ended)", flush=True)


def namespaces_possible(prefix):
    """Whether this machine lets us make network namespaces and the range is
    unused here (no address or route in it that is not ours).
    PT_FLEET_LOOPBACK=1 tries the loopback set-up of machines that cannot."""
    if os.environ.get("PT_FLEET_LOOPBACK"):
        return False
    if run("ip", "-4", "-o", "addr", "show", "to", f"{SUBNET}.0/27") + run("ip", "-4", "route", "show", "root",
                                                                            f"{SUBNET}.0/27"):
        return False
    if subprocess.run(["ip", "netns", "add", prefix + "-probe"], capture_output=True).returncode != 0:
        return False
    run("ip", "netns", "delete", prefix + "-probe")
    return True


@contextlib.contextmanager
def network_namespace(prefix, index):
    """A namespace joined to this machine by a veth pair: the machine at
    SUBNET.(4i+1), the namespace at SUBNET.(4i+2). Yields its name; on the way
    out every process still inside is killed and the veth and namespace go."""
    name, veth = f"{prefix}-{index}", f"ptf{os.getpid()}-{index}"[:15]
    try:
        run("ip", "netns", "add", name)
        run("ip", "link", "add", veth, "type", "veth", "peer", "name", "eth0", "netns", name)
        run("ip", "addr", "add", f"{SUBNET}.{4 * index + 1}/30", "dev", veth)
        run("ip", "link", "set", veth, "up")
        run("ip", "-n", name, "addr", "add", f"{SUBNET}.{4 * index + 2}/30", "dev", "eth0")
        run("ip", "-n", name, "link", "set", "eth0", "up")
        run("ip", "-n", name, "link", "set", "lo", "up")
        yield name
    finally:
        with shielded():
            for pid in run("ip", "netns", "pids", name, check=False).split():
                with contextlib.suppress(ProcessLookupError):
                    os.kill(int(pid), signal.SIGKILL)
            run("ip", "link", "delete", veth, check=False)
            run("ip", "netns", "delete", name, check=False)


def in_namespace(namespace, argv):
    # nsenter, not ip netns exec: that one mounts a /sys of its own, without
    # the cgroup folders slurmd looks at. nsenter, unshare and sh -c 'exec'
    # all exec in place, so the process started is the daemon itself.
    return (["nsenter", f"--net=/run/netns/{namespace}"] if namespace else []) + argv


@contextlib.contextmanager
def munge(work):
    """munged with a key of its own; yields its socket. Ends munged and
    removes its folders."""
    with owned_folder(os.path.join(work, "munge")) as folder, \
            owned_folder(os.path.join(work, "munge-socket")) as sockets:
        os.chmod(folder, 0o700)
        os.chmod(sockets, 0o755)
        key = os.path.join(folder, "munge.key")
        with open(key, "wb") as out:
            out.write(os.urandom(1024))
        os.chmod(key, 0o400)
        sock = os.path.join(sockets, "munge.socket")
        argv = ["munged", "--foreground", f"--socket={sock}", f"--key-file={key}",
                f"--pid-file={folder}/munged.pid", f"--log-file={folder}/munged.log",
                f"--seed-file={folder}/munged.seed"]
        with process(argv, os.path.join(folder, "munged.out")):
            q = shlex.quote(sock)
            wait_until(10, "munged", succeeds("bash", "-c", f"munge -S {q} -n | unmunge -S {q}"))
            yield sock


SLURM_CONF = """\
ClusterName=ptfleet
SlurmctldHost=ptctl({ctl_addr})
SlurmctldPort={ctl_port}
SlurmdPort={node_port}
AuthType=auth/munge
AuthInfo=socket={munge_socket}
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation={s}/state
SlurmdSpoolDir={s}/spool-%n
SlurmctldPidFile={s}/slurmctld.pid
SlurmdPidFile={s}/slurmd-%n.pid
SlurmctldLogFile={s}/slurmctld.log
SlurmdLogFile={s}/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
TaskPluginParam=Cores
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
KillWait=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MailProg=/bin/true
"""


def _uts(host, argv):
    # Each daemon has a host name of its own (a UTS namespace), as on a cluster.
    return ["unshare", "--uts", "sh", "-c", f"hostname {host} && exec {shlex.join(argv)}"]


def _steps_end(before):
    # slurmstepd leaves slurmd's tree as it starts: each of ours, with the job's
    # processes below it, is waited for and then killed.
    with shielded():
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and any(map(_alive, _daemons_now(("slurmstepd",)) - before)):
            time.sleep(0.2)
        steps = {pid for pid in _daemons_now(("slurmstepd",)) - before if _alive(pid)}
        for pid in steps.union(*map(_descendants, steps)):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)


def _jobs_end(env):
    with shielded():
        run("timeout", "10", "scancel", "--quiet", "--user=root", check=False, env=env)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and run("timeout", "5", "squeue", "-h", "-o", "%i", check=False, env=env):
            time.sleep(0.5)


@contextlib.contextmanager
def slurm(work, munge_socket, nodes):
    """slurmctld and one slurmd per node, nodes being (name, address,
    namespace or None). Cores are bound by default, the common site setting
    the batch script must undo. Yields the environment whose SLURM_CONF names
    the cluster. On the way out the jobs are cancelled, their slurmstepd (with
    what runs below them) are given 10 s to end and then killed, then slurmd
    and slurmctld are ended and the cluster's folder removed."""
    with owned_folder(os.path.join(work, "slurm")) as s:
        yield from _slurm_up(s, munge_socket, nodes)


def _slurm_up(s, munge_socket, nodes):
    os.makedirs(os.path.join(s, "state"))
    hw = run("slurmd", "-C").splitlines()[0].split()
    hw = " ".join(field for field in hw[1:] if not field.startswith("RealMemory="))
    ctl_port, node_port = free_ports(2)
    conf = os.path.join(s, "slurm.conf")
    with open(conf, "w", encoding="utf-8") as out:
        out.write(SLURM_CONF.format(ctl_addr=nodes[0][1], ctl_port=ctl_port, node_port=node_port,
                                    munge_socket=munge_socket, s=s))
        for name, address, _ in nodes:
            os.makedirs(os.path.join(s, "spool-" + name))
            out.write(f"NodeName={name} NodeAddr={address} {hw} State=UNKNOWN\n")
        out.write("PartitionName=fleet Nodes=ALL Default=YES MaxTime=INFINITE State=UP\n")
    env, steps_before = dict(os.environ, SLURM_CONF=conf), _daemons_now(("slurmstepd",))
    with contextlib.ExitStack() as daemons:
        daemons.enter_context(process(_uts("ptctl", ["slurmctld", "-D", "-f", conf]),
                                      os.path.join(s, "slurmctld.out"), env))
        wait_until(30, "slurmctld", succeeds("scontrol", "ping", env=env))
        for name, _, namespace in nodes:
            daemons.enter_context(process(in_namespace(namespace, _uts(name, ["slurmd", "-D", "-f", conf, "-N", name])),
                                          os.path.join(s, f"slurmd-{name}.out"), env))
        daemons.callback(_steps_end, steps_before)
        daemons.callback(_jobs_end, env)
        wait_until(30, "the Slurm nodes", lambda: set(run("sinfo", "-h", "-o", "%T", check=False, env=env).split())
                   == {"idle"})
        yield env


@contextlib.contextmanager
def ssh_keys(work):
    """The folder of the sshd: the host key every sshd shows, the key the test
    logs in with, known_hosts and the sshd's logs; removed on the way out."""
    with owned_folder(os.path.join(work, "ssh")) as folder:
        # sshd's privilege separation folder, which its service makes elsewhere
        # (left in place: an empty folder, and another test's sshd may need it).
        os.makedirs("/run/sshd", exist_ok=True)
        for name in ("host_key", "id"):
            run("ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(folder, name))
        yield folder


SSHD_CONF = """\
ListenAddress {address}:{port}
HostKey {d}/host_key
PidFile none
AuthorizedKeysFile {d}/id.pub
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
"""


@contextlib.contextmanager
def sshd(ssh, name, address, port, namespace=None):
    """An sshd that lets in root with the test's key, and nothing else; its
    host key is added to the test's known_hosts. Ends it, with every session
    it started, on the way out."""
    conf = os.path.join(ssh, f"sshd-{name}.conf")
    with open(conf, "w", encoding="utf-8") as out:
        out.write(SSHD_CONF.format(address=address, port=port, d=ssh))
    with open(os.path.join(ssh, "host_key.pub"), encoding="utf-8") as key, \
            open(os.path.join(ssh, "known_hosts"), "a", encoding="utf-8") as known:
        known.write(f"{address if port == 22 else f'[{address}]:{port}'} {key.read()}")
    argv = in_namespace(namespace, ["/usr/sbin/sshd", "-D", "-e", "-f", conf])
    with process(argv, os.path.join(ssh, f"sshd-{name}.log")):
        wait_until(10, f"sshd {name}", succeeds(
            "ssh", "-F", "/dev/null", "-i", f"{ssh}/id", "-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes",
            "-o", f"UserKnownHostsFile={ssh}/known_hosts", "-p", str(port), f"root@{address}", "true"))
        yield
