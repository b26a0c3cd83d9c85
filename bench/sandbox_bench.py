"""Comparisons that need the production binary at its real fixed paths, run
in the end-to-end sandbox (e2e/sandbox.py) and printed as rows of the
benchmark table. Every baseline runs in the same sandbox as what it is
compared with.

  listing  --list over 300 uninstall plists (150 receipts, 150 packages of
           the package database) against bare starts of exactly the fake-tool
           calls that listing made: the tool runs the design requires.
  removal  --id of a package of 100,000 files in 5,000 directories against
           "rm -rf" of an identical tree and "dpkg --remove" of a .deb holding
           an identical tree (installed with dpkg -i inside the sandbox, whose
           overlay keeps the host's package database untouched).

Usage: QU_BINARY=path/to/quorvane-uninstall python3 bench/sandbox_bench.py
           [--rounds N] [listing] [removal]
"""

import argparse
import os
import shlex
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import make_trees  # noqa: E402
import sandbox  # noqa: E402
from sandbox import Run  # noqa: E402
from world import World  # noqa: E402

TOOL_PATHS = {"pkgutil": "/usr/sbin/pkgutil", "lsbom": "/usr/bin/lsbom", "ps": "/bin/ps",
              "launchctl": "/bin/launchctl", "kextunload": "/sbin/kextunload"}
FLOOR_SCRIPT = "/usr/local/lib/qu-bench/floor.sh"
TREES_SCRIPT = "/usr/local/lib/qu-bench/make_trees.py"
BENCH = "/opt/qu-bench"
PYTHON = "/usr/bin/python3"
LONG = 3600


def row(comparison, measured, baseline, target, limit):
    ratio = measured / baseline
    met = "yes" if ratio <= limit else "**no**"
    cells = [comparison, f"{measured:.3f} s", f"{baseline:.3f} s", f"{ratio:.2f}x", target, met]
    print("| " + " | ".join(cells) + " |", flush=True)


def fail(message):
    print(f"sandbox bench: {message}", file=sys.stderr)
    sys.exit(1)


# --- --list against the tool runs it needs.

def listing_world(count=150):
    world = World()
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


def floor_script(calls):
    """Starts each recorded tool call once, output discarded, nothing else."""
    lines = ["#!/bin/sh"]
    for call in calls:
        argv = [TOOL_PATHS[call.tool], *call.argv]
        lines.append(" ".join(shlex.quote(argument) for argument in argv) + " >/dev/null 2>&1")
    return "\n".join(lines) + "\n"


def bench_listing(rounds):
    world = listing_world()
    # First learn which tool runs the listing makes, then time both in one sandbox.
    probe = sandbox.run(world, "--list")
    listed = probe.stdout.count("\n") - 2
    if probe.status != 0 or listed != 300:
        fail(f"--list failed (status {probe.status}, {listed} items)")
    world.file(FLOOR_SCRIPT, floor_script(probe.calls), mode=0o755)
    runs = []
    for number in range(rounds):
        pair = [Run(arguments=("--list",)), Run(command=(FLOOR_SCRIPT,))]
        runs += pair if number % 2 == 0 else pair[::-1]
    outcomes = sandbox.run_all(world, runs)
    listing = [o.elapsed for r, o in zip(runs, outcomes) if r.command is None]
    floor = [o.elapsed for r, o in zip(runs, outcomes) if r.command is not None]
    tools = ", ".join(f"{len(probe.calls_of(tool))} {tool}" for tool in TOOL_PATHS
                      if probe.calls_of(tool))
    print(f"listing: {len(probe.calls)} tool runs ({tools}); "
          f"--list {' '.join(f'{t:.3f}' for t in listing)} s, "
          f"bare tool runs {' '.join(f'{t:.3f}' for t in floor)} s", flush=True)
    row(f"Sandbox: `--list`, 300 uninstall plists, vs the {len(probe.calls)} fake-tool runs "
        f"it needs, started bare (median of {rounds})",
        statistics.median(listing), statistics.median(floor), "<= 1.2x", 1.2)


# --- Removal against rm -rf and dpkg --remove.

def removal_world(rounds):
    files, directories = make_trees.layout()
    world = World()
    world.copy(TREES_SCRIPT, os.path.join(HERE, "make_trees.py"), mode=0o644)
    for number in range(rounds):
        identifier = f"com.quorvane.bench{number}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": f"Bench {number}", "visible": True})
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


def removal_floor(world, rounds):
    """One script per round: the tool queries the removal of that round's
    package makes, learnt from removing package 0 where no file exists yet.
    Round k finds packages k and later still installed. The forget request
    is left out: the binary starts it and does not wait for it."""
    probe = sandbox.run(world, "--id", "com.quorvane.bench0")
    if probe.status != 0 or not probe.calls:
        fail(f"probe removal failed (status {probe.status})")
    queries = [call for call in probe.calls if "--forget" not in call.argv]
    scripts = []
    for number in range(rounds):
        calls = []
        for call in queries:
            named = {int(argument[len("com.quorvane.bench"):]) for argument in call.argv
                     if argument.startswith("com.quorvane.bench")}
            if named & set(range(1, number + 1)):
                continue  # removed in an earlier round
            argv = tuple(f"com.quorvane.bench{number}" if a == "com.quorvane.bench0" else a
                         for a in call.argv)
            calls.append(sandbox.Call(call.tool, argv))
        scripts.append((len(calls), world.file(f"{BENCH}/floor{number}.sh", floor_script(calls),
                                               mode=0o755)))
    return scripts


def bench_removal(rounds):
    world = removal_world(rounds)
    floors = removal_floor(world, rounds)
    setup = removal_setup(rounds)
    timed = []
    for number in range(rounds):
        # The package's queries, bare, while the database still knows it.
        timed.append(("floor", Run(command=(floors[number][1],), timeout=LONG)))
        trio = [("engine", Run(arguments=("--id", f"com.quorvane.bench{number}"), timeout=LONG)),
                ("rm", Run(command=("/bin/rm", "-rf", f"{BENCH}/rm{number}/Bench.app"),
                           timeout=LONG)),
                ("dpkg", Run(command=("/usr/bin/dpkg", "--remove", f"qu-bench-tree{number}"),
                             timeout=LONG))]
        # Rotate the order so no side always runs first.
        timed += trio[number % 3:] + trio[:number % 3]
    outcomes = sandbox.run_all(world, setup + [run for _, run in timed])
    for run, outcome in zip(setup, outcomes):
        if outcome.status != 0:
            fail(f"setup {run.command[0]} failed: {outcome.stderr.strip()[-2000:]}")
    times = {"engine": [], "floor": [], "rm": [], "dpkg": []}
    for (name, run), outcome in zip(timed, outcomes[len(setup):]):
        if outcome.status != 0:
            fail(f"{name} failed (status {outcome.status}): {outcome.stderr.strip()[-2000:]}")
        if name != "floor" and len(outcome.diff.removed) < 105_000:
            fail(f"{name} removed only {len(outcome.diff.removed)} paths")
        times[name].append(outcome.elapsed)
    for name, values in times.items():
        print(f"removal: {name} {' '.join(f'{t:.3f}' for t in values)} s", flush=True)
    counts = ", ".join(str(count) for count, _ in floors)
    print(f"removal: floor = each removal's tool queries ({counts}), started bare", flush=True)
    engine = statistics.median(times["engine"])
    own = statistics.median(e - f for e, f in zip(times["engine"], times["floor"]))
    row(f"Sandbox: removal by the binary, 100,000 files / 5,000 dirs, vs `rm -rf` "
        f"(median of {rounds})", engine, statistics.median(times["rm"]), "<= 1.3x", 1.3)
    row(f"Sandbox: removal by the binary, 100,000 files / 5,000 dirs, vs `dpkg --remove` "
        f"(median of {rounds})", engine, statistics.median(times["dpkg"]), "<= 1.0x", 1.0)
    row(f"Sandbox: the same removal less the bare runs of its fake-tool queries, "
        f"vs `rm -rf` (median of {rounds})", own, statistics.median(times["rm"]), "<= 1.3x", 1.3)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("parts", nargs="*", metavar="listing|removal",
                        help="which comparisons to run (default: both)")
    arguments = parser.parse_args()
    parts = arguments.parts or ["listing", "removal"]
    if not set(parts) <= {"listing", "removal"}:
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
    return 0


if __name__ == "__main__":
    sys.exit(main())
