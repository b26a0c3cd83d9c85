"""The first process of a fresh mount and PID namespace, started by sandbox.py
through unshare. It builds a throwaway root (an overlay over the host's "/"
with a tmpfs upper layer), lays the requested world into it, runs each
requested command chrooted inside it, and writes one JSON report to standard
output. Everything it mounts or starts dies with the namespace.

Usage: sandbox_init.py MOUNTPOINT < request.json
"""

import base64
import fcntl
import hashlib
import json
import os
import pwd
import resource
import select
import signal
import stat
import subprocess
import sys
import time
import traceback

SETUP_FAILED = 77

FAKES_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fakes")
FAKE_TOOLS = {
    "/usr/sbin/pkgutil": "pkgutil",
    "/usr/bin/lsbom": "lsbom",
    "/bin/ps": "ps",
    "/bin/launchctl": "unload",
    "/sbin/kextunload": "unload",
}
FAKE_LIBRARY = "/usr/local/lib/qu-fakes"
BINARY = "/usr/local/libexec/quorvane-uninstall"
CALL_LOG = "/var/log/qu-fakes.jsonl"
ENVIRONMENT = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8"}

# A signalled background program needs a moment to act on the signal; one
# that blocks it would wait forever.
SIGNAL_GRACE = 1.0
STRAGGLER_TIMEOUT = 10.0


class Unavailable(Exception):
    """The namespace refused what the sandbox needs (a mount)."""


def mount(*arguments):
    completed = subprocess.run(["mount", *arguments], capture_output=True, text=True)
    if completed.returncode != 0:
        raise Unavailable(f"mount {' '.join(arguments)}: {completed.stderr.strip()}")


def build_root(mountpoint):
    """Mounts the layers; answers (upper, lower, merged, scratch) paths."""
    mount("-t", "tmpfs", "-o", "mode=0755", "qu-sandbox", mountpoint)
    upper, work, merged, lower, scratch = (os.path.join(mountpoint, name) for name in
                                           ("upper", "work", "merged", "lower", "scratch"))
    for path in (upper, work, merged, lower, scratch):
        os.mkdir(path)
    # The host's root file system alone, without the mounts on top of it: the
    # overlay's lower layer as the file-tree comparison sees it.
    mount("--bind", "-o", "ro", "/", lower)
    mount("-t", "overlay", "-o", f"lowerdir=/,upperdir={upper},workdir={work}", "qu-sandbox",
          merged)
    mount("-t", "proc", "proc", os.path.join(merged, "proc"))
    mount("--bind", "/dev", os.path.join(merged, "dev"))
    return upper, lower, merged, scratch


# --- Laying out the world.

def installation(request):
    """The harness's own entries (fake tools, the binary under test, the call
    log), followed by the world's."""
    entries = [{"kind": "copy", "path": f"{FAKE_LIBRARY}/fakelib.py",
                "source": os.path.join(FAKES_SOURCE, "fakelib.py"), "mode": 0o644}]
    for path, name in FAKE_TOOLS.items():
        entries.append({"kind": "copy", "path": path, "source": os.path.join(FAKES_SOURCE, name),
                        "mode": 0o755})
    if request.get("binary"):
        entries.append({"kind": "copy", "path": BINARY, "source": request["binary"],
                        "mode": 0o755})
    entries.append({"kind": "dir", "path": "/var/db/qu-fake-pkgdb", "mode": 0o755})
    entries.append({"kind": "dir", "path": "/var/db/qu-fake-fail", "mode": 0o755})
    entries.append({"kind": "file", "path": CALL_LOG, "data": "", "mode": 0o666})
    return entries + request["world"]["entries"]


def write_entry(entry, sources):
    path = entry["path"]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.islink(path):
        os.unlink(path)
    kind = entry["kind"]
    if kind == "dir":
        os.makedirs(path, exist_ok=True)
    elif kind == "fifo":
        if os.path.lexists(path):
            os.unlink(path)
        os.mkfifo(path)
    elif kind == "symlink":
        if os.path.lexists(path):
            os.unlink(path)
        os.symlink(entry["target"], path)
        if entry.get("owner") is not None:
            os.lchown(path, entry["owner"], entry["owner"])
        return
    else:
        with open(path, "wb") as target:
            if kind == "copy":
                source = sources[id(entry)]
                source.seek(0)
                target.write(source.read())
            else:
                target.write(base64.b64decode(entry["data"]))
    if entry.get("owner") is not None:
        os.chown(path, entry["owner"], entry["owner"])
    os.chmod(path, entry["mode"])


def lay_out(merged, entries):
    """Writes the entries from a child chrooted into the sandbox, so that
    symbolic links on the way resolve inside it and never on the host."""
    sources = {id(entry): open(entry["source"], "rb") for entry in entries
               if entry["kind"] == "copy"}
    pid = os.fork()
    if pid == 0:
        try:
            os.chroot(merged)
            os.chdir("/")
            for entry in entries:
                write_entry(entry, sources)
            os._exit(0)
        except BaseException:
            traceback.print_exc()
            os._exit(1)
    for source in sources.values():
        source.close()
    _, status = os.waitpid(pid, 0)
    if status != 0:
        raise RuntimeError("could not lay out the world")


# --- Starting programs inside the sandbox.

# What this interpreter ignores for itself and exec would pass on; a shell
# starts programs with both at their default actions.
PYTHON_IGNORED = (signal.SIGPIPE, signal.SIGXFSZ)

# The smallest pipe the kernel makes: a reader that stops reading is felt
# after a few lines, not after 64 KiB.
SMALLEST_PIPE = 4096


def start(merged, argv, stdout_fd, stderr_fd, user=None, environment=None, session=False,
          ignored=(), limits=None):
    """Forks a child that enters the sandbox and executes argv; returns its pid
    once the exec has happened (or raises with the reason it did not). The
    program gets the signal dispositions a shell gives it, except that the
    signals `ignored` stay ignored, as exec keeps them; `limits` maps
    resource.RLIMIT_* to the soft and hard limit to set."""
    ready_read, ready_write = os.pipe()  # both close on exec
    pid = os.fork()
    if pid == 0:
        try:
            os.chroot(merged)
            os.chdir("/")
            if session:
                os.setsid()
            else:
                os.setpgid(0, 0)
            null = os.open("/dev/null", os.O_RDONLY)
            os.dup2(null, 0)
            os.dup2(stdout_fd, 1)
            os.dup2(stderr_fd, 2)
            for number in PYTHON_IGNORED:
                signal.signal(number, signal.SIG_DFL)
            for number in ignored:
                signal.signal(number, signal.SIG_IGN)
            for limit, value in (limits or {}).items():
                # One number for both limits, or [soft, hard] (null: unlimited).
                soft, hard = value if isinstance(value, list) else (value, value)
                resource.setrlimit(limit, (soft, resource.RLIM_INFINITY if hard is None else hard))
            if user is not None:
                account = pwd.getpwnam(user)
                os.setgroups([])
                os.setgid(account.pw_gid)
                os.setuid(account.pw_uid)
            os.execve(argv[0], argv, {**ENVIRONMENT, **(environment or {})})
        except BaseException as error:
            os.write(ready_write, f"cannot start {argv[0]}: {error}".encode())
        os._exit(127)
    os.close(ready_write)
    with os.fdopen(ready_read, "rb") as ready:
        failure = ready.read()
    if failure:
        os.waitpid(pid, 0)
        raise RuntimeError(failure.decode())
    return pid


def describe_status(status):
    if os.WIFSIGNALED(status):
        return {"exit": None, "signal": os.WTERMSIG(status), "running": False}
    return {"exit": os.WEXITSTATUS(status), "signal": None, "running": False}


class Processes:
    """The namespace's processes other than this one; as their parent (and as
    the namespace's init, which inherits orphans) this process reaps them all."""

    def __init__(self, merged):
        self.proc = os.path.join(merged, "proc")
        self.background = {}  # pid -> sandbox path
        self.ended = {}       # pid -> wait status

    def reap(self):
        while True:
            try:
                pid, status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return
            self.ended[pid] = status

    def alive(self):
        self.reap()
        return {int(name) for name in os.listdir(self.proc)
                if name.isdigit() and int(name) != 1 and int(name) not in self.ended}

    def changing(self, pid):
        """True while a process has a signal pending or is not at rest (a
        killed one runs its exit before it becomes a zombie)."""
        try:
            with open(f"{self.proc}/{pid}/status") as status:
                fields = {key: value.strip() for key, value in
                          (line.split(":", 1) for line in status if ":" in line)}
        except OSError:
            return False
        pending = any(int(fields.get(name, "0"), 16) for name in ("SigPnd", "ShdPnd"))
        return pending or fields.get("State", "S")[0] not in "STtZ"

    def settle(self):
        """Waits for programs left behind by a run (such as a detached child)
        to finish, and for signalled background programs to act on it."""
        deadline = time.monotonic() + STRAGGLER_TIMEOUT
        while self.alive() - set(self.background) and time.monotonic() < deadline:
            time.sleep(0.01)
        for pid in self.alive() - set(self.background):
            print(f"sandbox: killing {pid}, still running after the run", file=sys.stderr)
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + SIGNAL_GRACE
        while (any(map(self.changing, self.alive() & set(self.background)))
               and time.monotonic() < deadline):
            time.sleep(0.005)
        self.reap()

    def background_report(self):
        self.reap()
        report = {}
        for pid, path in self.background.items():
            if pid in self.ended:
                report[path] = {"pid": pid, **describe_status(self.ended[pid])}
            else:
                report[path] = {"pid": pid, "exit": None, "signal": None, "running": True}
        return report


# --- Comparing the file tree before and after a run.

class Snapshots:
    """States of the sandbox's files taken from the overlay's upper layer: a
    path of the merged tree is its upper entry when there is one (a whiteout
    meaning deleted), else the host's, unless an upper ancestor hides it."""

    def __init__(self, upper, lower):
        self.upper = upper
        self.lower = lower
        self.digests = {}

    def entry(self, path):
        """(kind, mode, uid, gid, content, opaque) of a path, or None."""
        try:
            info = os.lstat(path)
        except OSError:
            return None
        mode = info.st_mode
        opaque = False
        if stat.S_ISREG(mode):
            kind, content = "file", self.digest(path, info)
        elif stat.S_ISDIR(mode):
            kind, content = "dir", None
            try:
                opaque = os.getxattr(path, "trusted.overlay.opaque") == b"y"
            except OSError:
                pass
        elif stat.S_ISLNK(mode):
            kind, content = "symlink", os.readlink(path)
        elif stat.S_ISCHR(mode) and info.st_rdev == 0:
            kind, content = "whiteout", None
        else:
            kind, content = "other", info.st_rdev
        return (kind, stat.S_IMODE(mode), info.st_uid, info.st_gid, content, opaque)

    def digest(self, path, info):
        key = (info.st_dev, info.st_ino, info.st_size, info.st_mtime_ns, info.st_ctime_ns)
        if key not in self.digests:
            with open(path, "rb") as handle:
                self.digests[key] = hashlib.sha1(handle.read()).hexdigest()
        return self.digests[key]

    def take(self):
        snapshot = {}

        def walk(directory, relative):
            with os.scandir(directory) as children:
                for child in children:
                    path = f"{relative}/{child.name}"
                    snapshot[path] = self.entry(child.path)
                    if child.is_dir(follow_symlinks=False):
                        walk(child.path, path)

        walk(self.upper, "")
        return snapshot

    def state(self, path, snapshot):
        if path in snapshot:
            entry = snapshot[path]
            return None if entry[0] == "whiteout" else entry
        ancestor = os.path.dirname(path)
        while ancestor != "/":
            entry = snapshot.get(ancestor)
            if entry is not None and (entry[0] != "dir" or entry[5]):
                return None
            ancestor = os.path.dirname(ancestor)
        return self.entry(self.lower + path)

    def lower_descendants(self, path):
        found = []
        for root, directories, files in os.walk(self.lower + path):
            relative = root[len(self.lower):]
            found += [f"{relative}/{name}" for name in directories + files]
        return found

    def diff(self, before, after, untracked):
        candidates = set(before) | set(after)
        for path in list(candidates):
            was, now = self.state(path, before), self.state(path, after)
            hidden = now is None or (now[5] and not (was and was[5]))
            if was and was[0] == "dir" and hidden:
                candidates.update(self.lower_descendants(path))
        added, removed, changed = [], [], []
        for path in sorted(candidates - set(untracked)):
            was, now = self.state(path, before), self.state(path, after)
            if was is None and now is not None:
                added.append(path)
            elif was is not None and now is None:
                removed.append(path)
            elif was is not None and was[:5] != now[:5]:
                changed.append(path)
        return {"added": added, "removed": removed, "changed": changed}


# --- One run.

def read_calls(merged):
    with open(merged + CALL_LOG, encoding="utf-8") as log:
        return [json.loads(line) for line in log if line.strip()]


def reset_call_log(merged):
    with open(merged + CALL_LOG, "w"):
        pass


class QuittingReader:
    """The reading end of the program's standard output when a run asks for a
    reader that goes away: it takes the first `wanted` bytes, then closes."""

    def __init__(self, wanted):
        self.wanted = wanted
        self.received = b""
        self.fd, self.write_end = os.pipe()
        fcntl.fcntl(self.write_end, fcntl.F_SETPIPE_SZ, SMALLEST_PIPE)

    def read(self):
        if self.fd is None:
            return
        chunk = os.read(self.fd, self.wanted - len(self.received))
        self.received += chunk
        if not chunk or len(self.received) >= self.wanted:
            self.close()

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


def wait_for_exit(pid, timeout, reader):
    """Waits for the program (reading for `reader` meanwhile); answers
    (wait status, rusage, timed out)."""
    pidfd = os.pidfd_open(pid)
    deadline = time.monotonic() + timeout
    finished = False
    while not finished:
        waiting = [pidfd] + ([reader.fd] if reader and reader.fd is not None else [])
        ready, _, _ = select.select(waiting, [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        if reader and reader.fd in ready:
            reader.read()
        finished = pidfd in ready
    if not finished:
        os.killpg(pid, 9)  # the program's own process group, as it was started
    _, status, usage = os.wait4(pid, 0)
    os.close(pidfd)
    if reader:
        reader.close()
    return status, usage, not finished


def perform(run, merged, scratch, snapshots, processes, environment):
    argv = run.get("command") or [BINARY, *run.get("arguments", [])]
    reset_call_log(merged)
    before = snapshots.take()
    limits = {resource.RLIMIT_AS: run.get("memory_limit"),
              resource.RLIMIT_FSIZE: run.get("file_size_limit")}
    limits = {limit: value for limit, value in limits.items() if value is not None}
    reader = QuittingReader(run["read_stdout"]) if run.get("read_stdout") is not None else None
    stdout_path, stderr_path = f"{scratch}/stdout", f"{scratch}/stderr"
    with open(stdout_path, "wb") as stdout, open(stderr_path, "wb") as stderr:
        started = time.monotonic()
        pid = start(merged, argv, reader.write_end if reader else stdout.fileno(),
                    stderr.fileno(), user=run.get("user"),
                    environment={**(environment or {}), **run.get("environment", {})},
                    ignored=run.get("ignored", ()), limits=limits)
    if reader:
        os.close(reader.write_end)
    status, usage, timed_out = wait_for_exit(pid, run.get("timeout", 60), reader)
    elapsed = time.monotonic() - started
    processes.settle()
    with open(stdout_path, "rb") as stdout, open(stderr_path, "rb") as stderr:
        output, errors = stdout.read(), stderr.read()
    if reader:
        output = reader.received
    return {
        "status": os.waitstatus_to_exitcode(status),
        "timed_out": timed_out,
        "elapsed": elapsed,
        "processor": usage.ru_utime + usage.ru_stime,
        "peak_memory": usage.ru_maxrss * 1024,
        "stdout": base64.b64encode(output).decode(),
        "stderr": base64.b64encode(errors).decode(),
        "calls": read_calls(merged),
        "diff": snapshots.diff(before, snapshots.take(), [CALL_LOG]),
        "background": processes.background_report(),
    }


def main(mountpoint):
    request = json.load(sys.stdin)
    os.umask(0o022)
    try:
        upper, lower, merged, scratch = build_root(mountpoint)
    except (Unavailable, OSError) as error:
        print(f"sandbox: {error}", file=sys.stderr)
        return SETUP_FAILED
    lay_out(merged, installation(request))
    processes = Processes(merged)
    null = os.open("/dev/null", os.O_WRONLY)
    for program in request["world"]["background"]:
        argv = [program["path"], *program["arguments"]]
        pid = start(merged, argv, null, null, session=True,
                    ignored=program.get("ignored", ()))
        processes.background[pid] = program["path"]
    snapshots = Snapshots(upper, lower)
    runs = [perform(run, merged, scratch, snapshots, processes, request.get("environment"))
            for run in request["runs"]]
    json.dump({"runs": runs}, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
