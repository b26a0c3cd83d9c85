"""Runs the production uninstaller inside a throwaway macOS-like root.

Each call starts a private mount and PID namespace (unshare) whose first
process, sandbox_init.py, mounts an overlay over the host's "/" with a tmpfs
upper layer, installs the fake system tools and the binary under test at the
real fixed paths, lays out the scenario's world and runs the commands chrooted
inside it. Whatever they delete, write or kill stays in the namespace, which
vanishes when the call returns.

    outcome = sandbox.run(world, "--list")
    outcome.stdout, outcome.log, outcome.status, outcome.calls, outcome.diff
"""

import base64
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass, field

import differential
import json_outputs
import world as worlds

HERE = os.path.dirname(os.path.abspath(__file__))
INIT = os.path.join(HERE, "sandbox_init.py")
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
SETUP_FAILED = 77
PASSED_ENVIRONMENT = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")

# What AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer print
# when they find something, in a build made with QU_SANITIZE.
SANITIZER_REPORT = re.compile(
    r"^==\d+==ERROR: \w+Sanitizer|^SUMMARY: \w+Sanitizer|: runtime error: ", re.MULTILINE)

# "2026-12-08 02:11:25.123 quorvane-uninstall[1234] message"
LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+\] (.*)$")


class SandboxUnavailable(Exception):
    """This machine cannot make the sandbox (not root, or namespaces refused)."""


@dataclass
class Run:
    """One command inside the sandbox: the uninstaller with `arguments`, or
    `command` (an argument vector of sandbox paths) instead. It starts as from
    a shell, with the signals `ignored` left ignored, its address space held
    to `memory_limit` bytes (not in a sanitizer build, which reserves
    terabytes) and the files it writes to `file_size_limit` bytes. With
    `read_stdout`, its standard output is a pipe whose reader takes that many
    bytes and then goes away."""
    arguments: tuple = ()
    user: str = None
    command: tuple = None
    timeout: float = 60
    ignored: tuple = ()
    memory_limit: int = None
    file_size_limit: object = None  # bytes for both limits, or (soft, hard); hard None: none
    read_stdout: int = None
    environment: dict = None  # variables added to (or replacing) the run's environment


@dataclass(frozen=True)
class Call:
    tool: str
    argv: tuple


@dataclass(frozen=True)
class Ending:
    """How a background program stands after a run."""
    exit: int = None
    signal: int = None
    running: bool = False


@dataclass
class Diff:
    added: list = field(default_factory=list)
    removed: list = field(default_factory=list)
    changed: list = field(default_factory=list)

    @property
    def empty(self):
        return not (self.added or self.removed or self.changed)


@dataclass
class Outcome:
    status: int          # exit status, or minus the signal that ended the program
    stdout_bytes: bytes
    stderr_bytes: bytes
    calls: list          # of Call, in the order the fake tools were started
    diff: Diff
    background: dict     # sandbox path -> Ending
    elapsed: float       # seconds from start to exit
    timed_out: bool = False
    processor: float = 0  # user and system seconds, waited-for children included
    peak_memory: int = 0  # largest resident set, in bytes

    @property
    def stdout(self):
        return self.stdout_bytes.decode("utf-8", "replace")

    @property
    def stderr(self):
        return self.stderr_bytes.decode("utf-8", "replace")

    @property
    def log(self):
        """The messages of the log lines, without their time and process prefix."""
        return [match.group(1) for match in map(LOG_LINE.match, self.stderr.splitlines())
                if match]

    @property
    def diagnostics(self):
        """Lines on standard error that are not log lines."""
        return [line for line in self.stderr.splitlines() if not LOG_LINE.match(line)]

    def calls_of(self, tool):
        return [call.argv for call in self.calls if call.tool == tool]


def binary():
    """The uninstaller under test, from QU_BINARY."""
    path = os.environ.get("QU_BINARY")
    if not path:
        raise SandboxUnavailable("QU_BINARY is not set to the quorvane-uninstall binary")
    path = os.path.abspath(path)
    if not os.access(path, os.X_OK):
        raise SandboxUnavailable(f"QU_BINARY={path} is not an executable")
    return path


_sanitized = None


def sanitized():
    """True when the binary under test was built with AddressSanitizer."""
    global _sanitized
    if _sanitized is None:
        with open(binary(), "rb") as handle:
            _sanitized = b"__asan_init" in handle.read()
    return _sanitized


def run(world, *arguments, user=None):
    """Runs the uninstaller once with the given arguments in a sandbox holding `world`."""
    return run_all(world, [Run(arguments=arguments, user=user)])[0]


def run_all(world, runs, with_binary=True, check_plan=True):
    """Runs the commands one after another in one sandbox holding `world`;
    background programs are started once, before the first. A removal that
    meets the world as laid out is then checked against the dry run's plan
    (see differential.py)."""
    if os.geteuid() != 0:
        raise SandboxUnavailable("the sandbox needs root (mount namespaces, overlay, chroot)")
    runs = list(runs)
    request = {
        "binary": binary() if with_binary else None,
        "world": world.to_json(),
        "runs": [{"arguments": list(r.arguments), "user": r.user,
                  "command": list(r.command) if r.command else None, "timeout": r.timeout,
                  "ignored": [int(number) for number in r.ignored],
                  "memory_limit": None if with_binary and sanitized() else r.memory_limit,
                  "file_size_limit": r.file_size_limit, "read_stdout": r.read_stdout,
                  "environment": r.environment or {}}
                 for r in runs],
        "environment": {name: os.environ[name] for name in PASSED_ENVIRONMENT
                        if name in os.environ},
    }
    mountpoint = tempfile.mkdtemp(prefix="qu-sandbox-")
    try:
        completed = subprocess.run(
            ["unshare", "--mount", "--pid", "--fork", "--kill-child", "--propagation", "private",
             PYTHON, "-IB", INIT, mountpoint],
            input=json.dumps(request).encode(), capture_output=True,
            timeout=sum(r.timeout for r in runs) + 120)
    except FileNotFoundError as error:
        raise SandboxUnavailable(str(error)) from error
    finally:
        os.rmdir(mountpoint)
    errors = completed.stderr.decode("utf-8", "replace")
    if completed.returncode == SETUP_FAILED or errors.startswith("unshare:"):
        raise SandboxUnavailable(errors.strip())
    if completed.returncode != 0:
        raise RuntimeError(f"sandbox failed (status {completed.returncode}):\n{errors}")
    if errors:
        sys.stderr.write(errors)
    outcomes = [outcome(report) for report in json.loads(completed.stdout)["runs"]]
    # A sanitizer's finding fails the scenario whatever it asserts, even one
    # whose exit status the report happens not to change.
    for finished in outcomes:
        if SANITIZER_REPORT.search(finished.stderr):
            raise AssertionError(f"sanitizer report:\n{finished.stderr}")
    # Whatever a scenario asserts, JSON it asked for follows the published schemas.
    json_outputs.check_runs(runs, outcomes)
    if with_binary and check_plan and differential.enabled():
        for removal in differential.removals_to_check(runs):
            differential.check(world, removal, run_all, Run)
    return outcomes


def outcome(report):
    return Outcome(
        status=report["status"],
        stdout_bytes=base64.b64decode(report["stdout"]),
        stderr_bytes=base64.b64decode(report["stderr"]),
        calls=[Call(call["tool"], tuple(call["argv"])) for call in report["calls"]],
        diff=Diff(**report["diff"]),
        background={path: Ending(state["exit"], state["signal"], state["running"])
                    for path, state in report["background"].items()},
        elapsed=report["elapsed"],
        timed_out=report["timed_out"],
        processor=report["processor"],
        peak_memory=report["peak_memory"],
    )


_availability = None
_announced = set()


def ensure_available(with_binary=True):
    """Raises SandboxUnavailable when the sandbox cannot be made (probed once)."""
    global _availability
    if _availability is None:
        try:
            run_all(worlds.World(), [Run(command=("/bin/true",))], with_binary=False)
            _availability = ""
        except SandboxUnavailable as error:
            _availability = str(error)
    if _availability:
        raise SandboxUnavailable(_availability)
    if with_binary:
        binary()


class SandboxTestCase(unittest.TestCase):
    """Skips its tests, loudly, where the sandbox cannot be made; under CI
    (CI=true) that is a failure instead."""

    needs_binary = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            ensure_available(cls.needs_binary)
        except SandboxUnavailable as error:
            if os.environ.get("CI") == "true":
                raise AssertionError(f"end-to-end sandbox unavailable under CI: {error}")
            if str(error) not in _announced:
                _announced.add(str(error))
                banner = "*" * 72
                sys.stderr.write(f"\n{banner}\n* SKIPPING end-to-end tests: {error}\n{banner}\n")
            raise unittest.SkipTest(f"sandbox unavailable: {error}")
