"""Comparisons that need the production binary at its real fixed paths, run
in the end-to-end sandbox (e2e/sandbox.py) and printed as rows of the
benchmark table. Every baseline runs in the same sandbox as what it is
compared with, and every timed command runs under bench/measure.py, which
gives its wall-clock time and its processor time (children included).

  listing  --list over 300 uninstall plists (150 receipts, 150 packages of
           the package database) against bare starts of exactly the fake-tool
           calls that listing made: the tool runs the design requires.
  removal  --id of a package of 10,000, 100,000 and 1,000,000 files, 20 to a
           directory, listed as a bill of materials interleaves them, against
           "rm -rf" of an identical tree, and for 100,000 files "dpkg --remove"
           of a .deb holding an identical tree (installed with dpkg -i inside
           the sandbox, whose overlay keeps the host's package database
           untouched); and the same removal less the bare starts of its own
           fake-tool queries. Each round's package is the only one installed
           while it is removed. The million files get one round.
  shared   --dry-run --id of a small package with 10, 50 and 200 other
           packages installed, whose lists the removal reads to keep what they
           share, every fake tool taking 50 ms more a run, against bare starts
           one after another of the tool runs it made, and of those it made
           before each remaining package was asked once, several at a time.
  judgements  --dry-run --id of a package with 1,000 "additionalfiles"
           trees beside a remaining package of 100,000 paths, against the same
           dry run of a package without them; and of one removing 1,000 keys
           of a 100,000-key property list, against one removing 1 key.

Usage: QU_BINARY=path/to/quorvane-uninstall python3 bench/sandbox_bench.py
           [--rounds N] [listing] [removal] [shared] [judgements]
"""

import argparse
import os
import plistlib
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

def removal_world(rounds, file_count):
    files, directories = make_trees.layout(file_count)
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


def make_tree(file_count, *roots):
    return Run(command=(PYTHON, "-IB", TREES_SCRIPT, "--files", str(file_count), *roots),
               timeout=LONG)


def removal_setup(rounds, file_count, with_dpkg):
    """The packages dpkg installs; the trees the binary and rm -rf remove
    are made just before each removal, so neither meets the other's entries
    in the kernel's caches."""
    if not with_dpkg:
        return []
    setup = [make_tree(file_count, *(f"{BENCH}/staging{number}{BENCH}/dpkg{number}"
                                     for number in range(rounds)))]
    for number in range(rounds):
        deb = f"{BENCH}/tree{number}.deb"
        setup += [
            Run(command=("/usr/bin/dpkg-deb", "-Znone", "--root-owner-group", "--build",
                         f"{BENCH}/staging{number}", deb), timeout=LONG),
            Run(command=("/bin/rm", "-rf", f"{BENCH}/staging{number}"), timeout=LONG),
            Run(command=("/usr/bin/dpkg", "-i", deb), timeout=LONG),
        ]
    return setup


def bench_removal(rounds, file_count):
    with_dpkg = file_count == 100_000
    world = removal_world(rounds, file_count)
    queries, floors = removal_floors(world, rounds)
    setup = removal_setup(rounds, file_count, with_dpkg)
    timed = []
    for number in range(rounds):
        if number > 0:
            timed.append(("install", Run(command=(
                "/bin/mv", f"{BENCH}/descriptions/com.quorvane.bench{number}.plist",
                f"{DESCRIPTIONS}/"))))
        # The package's queries, bare, while the database still knows it.
        timed.append(("floor", measured(floors[number])))
        trio = [[("tree", make_tree(file_count, f"{BENCH}/engine{number}")),
                 ("binary", measured(sandbox_init.BINARY, "--id", f"com.quorvane.bench{number}"))],
                [("tree", make_tree(file_count, f"{BENCH}/rm{number}")),
                 ("rm", measured("/bin/rm", "-rf", f"{BENCH}/rm{number}/Bench.app"))]]
        if with_dpkg:
            trio.append([("dpkg", measured("/usr/bin/dpkg", "--remove", f"qu-bench-tree{number}"))])
        # Rotate the order so no side always runs first.
        for side in trio[number % len(trio):] + trio[:number % len(trio)]:
            timed += side
    outcomes = sandbox.run_all(world, setup + [run for _, run in timed])
    for run, outcome in zip(setup, outcomes):
        if outcome.status != 0:
            fail(f"setup {run.command[0]} failed: {outcome.stderr.strip()[-2000:]}")
    times = {"binary": [], "floor": [], "rm": [], "dpkg": []}
    for (name, _), outcome in zip(timed, outcomes[len(setup):]):
        if name == "tree" and outcome.status != 0:
            fail(f"making a tree failed: {outcome.stderr.strip()[-2000:]}")
        if name in ("install", "tree"):
            continue
        times[name].append(times_of(outcome, name))
        if name != "floor" and len(outcome.diff.removed) < file_count:
            fail(f"{name} removed only {len(outcome.diff.removed)} paths")
    own = [Times(b.wall - f.wall, b.cpu - f.cpu) for b, f in zip(times["binary"], times["floor"])]
    print(f"removal: the binary makes {queries} fake-tool queries when removing the first "
          f"of {rounds} packages")
    show("binary", times["binary"])
    show("its tool queries, bare", times["floor"])
    show("rm -rf", times["rm"])
    what = (f"Sandbox: removal by the binary, {file_count:,} files / "
            f"{file_count // make_trees.FILES_PER_DIRECTORY:,} dirs, interleaved")
    rows(f"{what}, vs `rm -rf`", times["binary"], times["rm"], "<= 1.3x", 1.3)
    if with_dpkg:
        show("dpkg --remove", times["dpkg"])
        rows(f"{what}, vs `dpkg --remove`", times["binary"], times["dpkg"], "<= 1.0x", 1.0)
    rows(f"{what} less its tool queries, vs `rm -rf`", own, times["rm"], "<= 1.0x", 1.0)


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


TOOL_DELAY = "/var/db/qu-fake-delay"


def before_sharing_calls(sharing):
    """The list queries the removal made before each remaining package was
    asked once for all its paths: files, then directories."""
    calls = []
    for call in sharing:
        if call.tool == "pkgutil" and call.argv[:1] == ("--files",):
            calls += [Call("pkgutil", ("", "--files", call.argv[1])),
                      Call("pkgutil", ("--only-dirs", "--files", call.argv[1]))]
        elif call.tool == "lsbom" and call.argv[:1] == ("-s",):
            calls += [Call("lsbom", ("-fls", call.argv[1])), Call("lsbom", ("-ds", call.argv[1]))]
        else:
            calls.append(call)  # the binary under test asks as before
    return calls


def bench_shared(rounds, others):
    selected = "com.quorvane.pkg00"
    world = shared_world(others)
    # Every fake tool run takes 50 ms more, as a slow package database would.
    world.file(TOOL_DELAY, "0.05\n")
    command = (sandbox_init.BINARY, "--dry-run", "--id", selected)
    probe = sandbox.run_all(world, [Run(arguments=command[1:])])[0]
    if probe.status != 0:
        fail(f"--dry-run --id failed (status {probe.status})")
    # The lists of the packages that stay: every query naming another package
    # that is not the information query the loading makes.
    sharing = [call for call in probe.calls
               if call.tool in ("lsbom", "pkgutil") and "--pkg-info-plist" not in call.argv
               and not any(selected in a or "P00.pkg" in a for a in call.argv)]
    before = before_sharing_calls(sharing)
    everything = world.file(f"{LIBRARY}/floor-all.sh", floor_script(probe.calls), mode=0o755)
    extra = world.file(f"{LIBRARY}/floor-shared.sh", floor_script(sharing), mode=0o755)
    earlier = world.file(f"{LIBRARY}/floor-before.sh", floor_script(before), mode=0o755)
    runs = []
    for _ in range(rounds):
        runs += [("run", measured(*command)), ("floor", measured(everything)),
                 ("shared", measured(extra)), ("before", measured(earlier))]
    outcomes = sandbox.run_all(world, [run for _, run in runs])
    times = {"run": [], "floor": [], "shared": [], "before": []}
    for (name, _), outcome in zip(runs, outcomes):
        times[name].append(times_of(outcome, name))
    print(f"shared: --dry-run --id with {others} other packages installed makes "
          f"{len(probe.calls)} tool runs, {len(sharing)} of them for the others' lists "
          f"(before: {len(before)})")
    show("--dry-run --id", times["run"])
    show("all its tool runs, bare, one after another", times["floor"])
    show(f"its {len(sharing)} runs for the others' lists, bare", times["shared"])
    show(f"the {len(before)} runs for them before, bare", times["before"])
    # The run less the bare starts of its other tool runs (loading, its own
    # package's lists): what reading the others' lists costs it.
    reading = [Times(r.wall - (f.wall - s.wall), r.cpu - (f.cpu - s.cpu))
               for r, f, s in zip(times["run"], times["floor"], times["shared"])]
    show("reading the others' lists, within the run", reading)
    label = (f"Sandbox: `--dry-run --id` of one package with {others} others installed, "
             f"each tool run 50 ms slower")
    print(f"| {label}: tool runs for the others' lists, vs before | {len(sharing)} | "
          f"{len(before)} | {len(sharing) / max(1, len(before)):.2f}x | <= 0.5x | "
          f"{'yes' if len(sharing) <= len(before) / 2 else '**no**'} |")
    value = statistics.median(t.wall for t in reading)
    baseline = statistics.median(t.wall for t in times["before"])
    print(f"| {label}: reading the others' lists (the run less the bare starts of its other "
          f"tool runs), vs the {len(before)} list queries of before, started bare one after "
          f"another, wall clock (median of {len(reading)}) | {value:.3f} s | {baseline:.3f} s | "
          f"{value / baseline:.2f}x | <= 0.4x | {'yes' if value <= 0.4 * baseline else '**no**'} |")
    rows(f"{label}, vs the {len(probe.calls)} tool runs it makes, started bare one after another",
         times["run"], times["floor"], "<= 1.0x", 1.0)


# --- Judgements that once scanned everything: additional trees beside a
# large remaining package, and many keys removed from a large property list.

JUDGED_PREFERENCES = "/Library/Preferences/com.quorvane.large.plist"


def judgements_world():
    world = World()
    install_helpers(world)
    # The package that stays: 100,000 paths, which every tree is judged against.
    dirs = [f"Library/Quorvane/Large/D{d:04}" for d in range(5000)]
    files = [f"{d}/file{f:02}" for d in dirs for f in range(19)]
    world.uninstall_plist("com.quorvane.large.plist", {
        "pkgid": "com.quorvane.large", "displayName": "Large", "visible": True})
    world.database_package("com.quorvane.large", files=files, dirs=dirs)
    world.file(JUDGED_PREFERENCES,
               plistlib.dumps({f"key{n:06}": n for n in range(100_000)}))
    trees = [f"/Library/Quorvane/Extra/T{n:04}" for n in range(1000)]
    keys = [f"key{n * 100:06}" for n in range(1000)]
    small = {"plain": {}, "trees": {"additionalfiles": trees},
             "onekey": {"plistremove": {JUDGED_PREFERENCES: keys[:1]}},
             "keys": {"plistremove": {JUDGED_PREFERENCES: keys}}}
    for name, settings in small.items():
        identifier = f"com.quorvane.{name}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": name.title(), "visible": True, **settings})
        world.database_package(identifier, files=[f"Library/Quorvane/{name}/file"],
                               dirs=[f"Library/Quorvane/{name}"])
    return world


def bench_judgements(rounds):
    world = judgements_world()
    runs = []
    for _ in range(rounds):
        for name in ("plain", "trees", "onekey", "keys"):
            runs.append((name, measured(sandbox_init.BINARY, "--dry-run", "--id",
                                        f"com.quorvane.{name}", timeout=LONG)))
    outcomes = sandbox.run_all(world, [run for _, run in runs])
    times = {"plain": [], "trees": [], "onekey": [], "keys": []}
    for (name, _), outcome in zip(runs, outcomes):
        times[name].append(times_of(outcome, name))
    show("--dry-run --id, no additional files or keys", times["plain"])
    show("the same with 1,000 additional trees", times["trees"])
    show("the same removing 1 key of 100,000", times["onekey"])
    show("the same removing 1,000 keys of 100,000", times["keys"])
    beside = "beside a remaining package of 100,000 paths"
    rows(f"Sandbox: `--dry-run --id` of a package with 1,000 \"additionalfiles\" trees {beside}, "
         f"vs the same without them", times["trees"], times["plain"], "<= 1.5x", 1.5)
    rows(f"Sandbox: `--dry-run --id` of a package removing 1,000 keys of a 100,000-key "
         f"property list {beside}, vs the same removing 1 key", times["keys"], times["onekey"],
         "<= 1.5x", 1.5)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--files", type=int, action="append",
                        help="package sizes of the removal (default: 10,000, 100,000 and "
                             "1,000,000 files)")
    parser.add_argument("--others", type=int, action="append",
                        help="packages installed beside (default: 10, 50 and 200)")
    parser.add_argument("parts", nargs="*", metavar="listing|removal|shared|judgements",
                        help="which comparisons to run (default: all)")
    arguments = parser.parse_args()
    # Runs here are timed, not tested: the end-to-end suite compares each
    # removal with its plan, and for a million paths that comparison alone
    # takes longer than the benchmark.
    os.environ["QU_DIFFERENTIAL"] = "0"
    every = ["listing", "removal", "shared", "judgements"]
    parts = arguments.parts or every
    if not set(parts) <= set(every):
        parser.error(f"unknown comparison in {parts}")
    try:
        sandbox.ensure_available()
    except sandbox.SandboxUnavailable as error:
        print(f"| Sandbox comparisons | skipped: {error} | | | | |")
        return 0
    if "listing" in parts:
        bench_listing(arguments.rounds)
    if "removal" in parts:
        for file_count in arguments.files or [10_000, 100_000, 1_000_000]:
            bench_removal(1 if file_count >= 1_000_000 else arguments.rounds, file_count)
    if "shared" in parts:
        for others in arguments.others or [10, 50, 200]:
            bench_shared(arguments.rounds, others)
    if "judgements" in parts:
        bench_judgements(arguments.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
