"""Comparisons that need the production binary at its real fixed paths, run
in the end-to-end sandbox (e2e/sandbox.py) and printed as rows of the
benchmark table. Every baseline runs in the same sandbox as what it is
compared with, and every timed command runs under bench/measure.py, which
gives its wall-clock time and its processor time (children included).

  listing  --list over 300 uninstall plists (150 receipts, 150 packages of
           the package database) against bare starts of exactly the fake-tool
           calls that listing made: the tool runs the design requires.
  removal  --id of a package of 100,000 files in 5,000 directories against
           "rm -rf" of an identical tree and "dpkg --remove" of a .deb holding
           an identical tree (installed with dpkg -i inside the sandbox, whose
           overlay keeps the host's package database untouched); and the same
           removal less the bare starts of its own fake-tool queries. Each
           round's package is the only one installed while it is removed.
  shared   --id of a small package with 50 other packages installed, whose
           lists the removal reads to keep what they share, against the same
           removal with no other package installed.

Usage: QU_BINARY=path/to/quorvane-uninstall python3 bench/sandbox_bench.py
           [--rounds N] [listing] [removal]
"""

import argparse
import os
import shlex
import statistics
import sys
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import make_trees  # noqa: E402
import measure  # noqa: E402
import sandbox  # noqa: E402
import sandbox_init  # noqa: E402
from sandbox import Call, Run  # noqa: E402
from world import DESCRIPTIONS, World  # noqa: E402

TOOL_PATHS = {"pkgutil": "/usr/sbin/pkgutil", "lsbom": "/usr/bin/lsbom", "ps": "/bin/ps",
              "launchctl": "/bin/launchctl", "kextunload": "/sbin/kextunload"}
LIBRARY = "/usr/local/lib/qu-bench"
MEASURE = f"{LIBRARY}/measure.py"
TREES_SCRIPT = f"{LIBRARY}/make_trees.py"
BENCH = "/opt/qu-bench"
PYTHON = "/usr/bin/python3"
LONG = 3600


@dataclass
class Times:
    wall: float
    cpu: float


def measured(*argv, timeout=LONG):
    return Run(command=(PYTHON, "-IB", MEASURE, *argv), timeout=timeout)


def times_of(outcome, what):
    if outcome.status != 0:
        fail(f"{what} failed (status {outcome.status}): {outcome.stderr.strip()[-2000:]}")
    for line in reversed(outcome.stderr.splitlines()):
        if line.startswith(measure.PREFIX):
            wall, cpu = line.split()[1:]
            return Times(float(wall), float(cpu))
    fail(f"{what} reported no times")


def install_helpers(world):
    for name in ("measure.py", "make_trees.py"):
        world.copy(f"{LIBRARY}/{name}", os.path.join(HERE, name), mode=0o644)


def rows(comparison, measured_times, baseline_times, target, limit):
    """Two rows, wall clock and processor time, from the medians of the rounds."""
    for kind, field in (("wall clock", "wall"), ("processor time", "cpu")):
        value = statistics.median(getattr(t, field) for t in measured_times)
        baseline = statistics.median(getattr(t, field) for t in baseline_times)
        ratio = value / baseline
        cells = [f"{comparison}, {kind} (median of {len(measured_times)})", f"{value:.3f} s",
                 f"{baseline:.3f} s", f"{ratio:.2f}x", target,
                 "yes" if ratio <= limit else "**no**"]
        print("| " + " | ".join(cells) + " |", flush=True)


def show(label, values):
    print(f"  {label}: " + ", ".join(f"{t.wall:.3f} s (cpu {t.cpu:.3f} s)" for t in values),
          flush=True)


def fail(message):
    print(f"sandbox bench: {message}", file=sys.stderr)
    sys.exit(1)


def floor_script(calls):
    """Starts each tool call once, its output drained through a pipe as the
    binary reads it (a tool writing 100,000 lines into a pipe pays for that
    much more than one writing to /dev/null), nothing else."""
    lines = ["#!/bin/sh"]
    for call in calls:
        argv = [TOOL_PATHS[call.tool], *call.argv]
        lines.append(" ".join(shlex.quote(argument) for argument in argv) +
                     " 2>/dev/null | cat >/dev/null")
    return "\n".join(lines) + "\n"


# --- --list against the tool runs it needs.

def listing_world(count=150):
    world = World()
    install_helpers(world)
    for number in range(count):
        identifier = f"com.quorvane.receipt{number:03}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": f"Receipt package {number}", "visible": True})
        world.receipt(f"Receipt{number:03}.pkg", identifier, version="1.0")
    for number in range(count):
        identifier = f"com.quorvane.database{number:03}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": f"Database package {number}", "visible": True})
        world.database_package(identifier)
    return world


def bench_listing(rounds):
    world = listing_world()
    # First learn which tool runs the listing makes, then time both in one sandbox.
    probe = sandbox.run(world, "--list")
    listed = probe.stdout.count("\n") - 2
    if probe.status != 0 or listed != 300:
        fail(f"--list failed (status {probe.status}, {listed} items)")
    floor = world.file(f"{LIBRARY}/floor.sh", floor_script(probe.calls), mode=0o755)
    runs = []
    for number in range(rounds):
        pair = [("listing", measured(sandbox_init.BINARY, "--list")),
                ("floor", measured(floor))]
        runs += pair if number % 2 == 0 else pair[::-1]
    outcomes = sandbox.run_all(world, [run for _, run in runs])
    times = {"listing": [], "floor": []}
    for (name, _), outcome in zip(runs, outcomes):
        times[name].append(times_of(outcome, name))
    tools = ", ".join(f"{len(probe.calls_of(tool))} {tool}" for tool in TOOL_PATHS
                      if probe.calls_of(tool))
    print(f"listing: --list makes {len(probe.calls)} tool runs ({tools})")
    show("--list", times["listing"])
    show("the same tool runs, bare", times["floor"])
    rows(f"Sandbox: `--list`, 300 uninstall plists, vs the {len(probe.calls)} fake-tool runs "
         f"it makes, started bare", times["listing"], times["floor"], "<= 1.2x", 1.2)


# --- Removal against rm -rf and dpkg --remove.

def removal_world(rounds):
    files, directories = make_trees.layout()
    world = World()
    install_helpers(world)
    for number in range(rounds):
        identifier = f"com.quorvane.bench{number}"
        # Later rounds' descriptions wait aside, so no round pays for reading
        # the lists of packages that are still to come.
        description = {"pkgid": identifier, "displayName": f"Bench {number}", "visible": True}
        if number == 0:
            world.uninstall_plist(f"{identifier}.plist", description)
        else:
            world.plist(f"{BENCH}/descriptions/{identifier}.plist", description)
        # As the package database reports them: relative to the install
        # location "/" on the volume "/".
        installed = f"{BENCH[1:]}/engine{number}"
        world.database_package(identifier, install_location="/",
                               files=[f"{installed}/{path}" for path in files],
                               dirs=[f"{installed}/{path}" for path in directories])
        world.file(f"{BENCH}/staging{number}/DEBIAN/control",
                   f"Package: qu-bench-tree{number}\nVersion: 1.0\nArchitecture: all\n"
                   f"Maintainer: Bench <bench@localhost>\nDescription: benchmark tree\n")
    return world


def removal_floors(world, rounds):
    """One script per round: the tool queries the removal of that round's
    package makes, learnt from removing package 0 where no file exists yet.
    Round k finds packages k and later still installed. The forget request
    is left out: the binary starts it and does not wait for it."""
    probe = sandbox.run(world, "--id", "com.quorvane.bench0")
    if probe.status != 0 or not probe.calls:
        fail(f"probe removal failed (status {probe.status})")
    queries = [call for call in probe.calls if "--forget" not in call.argv]
    prefix = "com.quorvane.bench"
    floors = []
    for number in range(rounds):
        calls = []
        for call in queries:
            named = {int(a[len(prefix):]) for a in call.argv if a.startswith(prefix)}
            if named & set(range(1, number + 1)):
                continue  # removed in an earlier round
            calls.append(Call(call.tool, tuple(f"{prefix}{number}" if a == f"{prefix}0" else a
                                               for a in call.argv)))
        floors.append(world.file(f"{BENCH}/floor{number}.sh", floor_script(calls), mode=0o755))
    return len(queries), floors


def removal_setup(rounds):
    roots = []
    for number in range(rounds):
        roots += [f"{BENCH}/engine{number}", f"{BENCH}/rm{number}",
                  f"{BENCH}/staging{number}{BENCH}/dpkg{number}"]
    setup = [Run(command=(PYTHON, "-IB", TREES_SCRIPT, *roots), timeout=LONG)]
    for number in range(rounds):
        deb = f"{BENCH}/tree{number}.deb"
        setup += [
            Run(command=("/usr/bin/dpkg-deb", "-Znone", "--root-owner-group", "--build",
                         f"{BENCH}/staging{number}", deb), timeout=LONG),
            Run(command=("/bin/rm", "-rf", f"{BENCH}/staging{number}"), timeout=LONG),
            Run(command=("/usr/bin/dpkg", "-i", deb), timeout=LONG),
        ]
    return setup


def bench_removal(rounds):
    world = removal_world(rounds)
    queries, floors = removal_floors(world, rounds)
    setup = removal_setup(rounds)
    timed = []
    for number in range(rounds):
        if number > 0:
            timed.append(("install", Run(command=(
                "/bin/mv", f"{BENCH}/descriptions/com.quorvane.bench{number}.plist",
                f"{DESCRIPTIONS}/"))))
        # The package's queries, bare, while the database still knows it.
        timed.append(("floor", measured(floors[number])))
        trio = [("binary", measured(sandbox_init.BINARY, "--id", f"com.quorvane.bench{number}")),
                ("rm", measured("/bin/rm", "-rf", f"{BENCH}/rm{number}/Bench.app")),
                ("dpkg", measured("/usr/bin/dpkg", "--remove", f"qu-bench-tree{number}"))]
        # Rotate the order so no side always runs first.
        timed += trio[number % 3:] + trio[:number % 3]
    outcomes = sandbox.run_all(world, setup + [run for _, run in timed])
    for run, outcome in zip(setup, outcomes):
        if outcome.status != 0:
            fail(f"setup {run.command[0]} failed: {outcome.stderr.strip()[-2000:]}")
    times = {"binary": [], "floor": [], "rm": [], "dpkg": []}
    for (name, _), outcome in zip(timed, outcomes[len(setup):]):
        if name == "install":
            continue
        times[name].append(times_of(outcome, name))
        if name != "floor" and len(outcome.diff.removed) < 105_000:
            fail(f"{name} removed only {len(outcome.diff.removed)} paths")
    own = [Times(b.wall - f.wall, b.cpu - f.cpu) for b, f in zip(times["binary"], times["floor"])]
    print(f"removal: the binary makes {queries} fake-tool queries when removing the first "
          f"of {rounds} packages")
    show("binary", times["binary"])
    show("its tool queries, bare", times["floor"])
    show("rm -rf", times["rm"])
    show("dpkg --remove", times["dpkg"])
    what = "Sandbox: removal by the binary, 100,000 files / 5,000 dirs"
    rows(f"{what}, vs `rm -rf`", times["binary"], times["rm"], "<= 1.3x", 1.3)
    rows(f"{what}, vs `dpkg --remove`", times["binary"], times["dpkg"], "<= 1.0x", 1.0)
    rows(f"{what} less its tool queries, vs `rm -rf`", own, times["rm"], "<= 1.15x", 1.15)


# --- The price of keeping what other packages list.

def shared_world(others):
    """A small package and `others` more, half receipts and half packages of
    the package database, each with 20 files in 4 directories."""
    world = World()
    install_helpers(world)
    for number in range(others + 1):
        identifier = f"com.quorvane.pkg{number:02}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": f"Package {number}", "visible": True})
        dirs = [f"Library/Quorvane/P{number:02}/D{d}" for d in range(4)]
        files = [f"{d}/file{f}" for d in dirs for f in range(5)]
        if number % 2 == 0:
            world.receipt(f"P{number:02}.pkg", identifier, files=files, dirs=dirs)
        else:
            world.database_package(identifier, files=files, dirs=dirs)
        world.installed("/", files=files, dirs=dirs)
    return world


def bench_shared(rounds, others=50):
    selected = "com.quorvane.pkg00"
    world = shared_world(others)
    command = (sandbox_init.BINARY, "--dry-run", "--id", selected)
    probe = sandbox.run_all(world, [Run(arguments=command[1:])])[0]
    if probe.status != 0:
        fail(f"--dry-run --id failed (status {probe.status})")
    # The lists of the packages that stay: every query naming another package
    # that is not the information query the loading makes.
    sharing = [call for call in probe.calls
               if call.tool in ("lsbom", "pkgutil") and "--pkg-info-plist" not in call.argv
               and not any(selected in a or "P00.pkg" in a for a in call.argv)]
    everything = world.file(f"{LIBRARY}/floor-all.sh", floor_script(probe.calls), mode=0o755)
    extra = world.file(f"{LIBRARY}/floor-shared.sh", floor_script(sharing), mode=0o755)
    runs = []
    for _ in range(rounds):
        runs += [("run", measured(*command)), ("floor", measured(everything)),
                 ("shared", measured(extra))]
    outcomes = sandbox.run_all(world, [run for _, run in runs])
    times = {"run": [], "floor": [], "shared": []}
    for (name, _), outcome in zip(runs, outcomes):
        times[name].append(times_of(outcome, name))
    print(f"shared: --dry-run --id with {others} other packages installed makes "
          f"{len(probe.calls)} tool runs, {len(sharing)} of them for the others' lists")
    show("--dry-run --id", times["run"])
    show("all its tool runs, bare", times["floor"])
    show(f"the {len(sharing)} runs for the others' lists, bare", times["shared"])
    rows(f"Sandbox: `--dry-run --id` of one package with {others} others installed "
         f"(their lists read), vs the {len(probe.calls)} fake-tool runs it makes, started bare",
         times["run"], times["floor"], "<= 1.2x", 1.2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("parts", nargs="*", metavar="listing|removal|shared",
                        help="which comparisons to run (default: all)")
    arguments = parser.parse_args()
    parts = arguments.parts or ["listing", "removal", "shared"]
    if not set(parts) <= {"listing", "removal", "shared"}:
        parser.error(f"unknown comparison in {parts}")
    try:
        sandbox.ensure_available()
    except sandbox.SandboxUnavailable as error:
        print(f"| Sandbox comparisons | skipped: {error} | | | | |")
        return 0
    if "listing" in parts:
        bench_listing(arguments.rounds)
    if "removal" in parts:
        bench_removal(arguments.rounds)
    if "shared" in parts:
        bench_shared(arguments.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
