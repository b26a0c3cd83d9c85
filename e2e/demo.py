"""A guided first run of the uninstaller inside a throwaway sandbox: the
listing, the whole plan as an ordinary user sees it, the removal as root with
its progress and log, the listing again, and what the sandbox's files and
programs show afterwards. Nothing on this machine is read or changed.

Usage: QU_BINARY=path/to/quorvane-uninstall python3 e2e/demo.py

The steps, the summary and the rendering are functions, so that the
end-to-end suite runs the same demo and checks its summary against the
sandbox (e2e/test_demo.py).
"""

import base64
import json
import os
import plistlib
import signal
import sys
from collections import Counter
from dataclasses import dataclass, field

import sandbox
from sandbox import Run
from world import DEMO_SUITE, DEMO_USER, SHARED_PREFERENCES, demo_world

PROGRAM = "quorvane-uninstall"
# Where the demo's world lies, for the file trees before and after the removal.
TREE_ROOTS = ("/Applications", "/Library", "/Users")
TREE = Run(command=("/usr/bin/find", *TREE_ROOTS, "-printf", "%y\\0%U\\0%p\\0%l\\0"))
# How many lines stay at each end of a long run of alike lines (see `elided`).
KEEP_AROUND = 1

# find's letter for a kind of entry -> its name, singular and plural
KINDS = {"f": ("file", "files"), "d": ("directory", "directories"),
         "l": ("symbolic link", "symbolic links")}


@dataclass(frozen=True)
class Step:
    title: str  # one line: what the step shows
    run: Run

    @property
    def command(self):
        prompt = f"{self.run.user}$" if self.run.user else "root#"
        return f"{prompt} {PROGRAM} {' '.join(self.run.arguments)}"


LISTING = Step("What is installed. Any user may list; hidden helper packages are not shown.",
               Run(("--list",), user=DEMO_USER))
DRY_RUN = Step("The whole plan, as an ordinary user: every effect in order, nothing done.",
               Run(("--dry-run", "--id", DEMO_SUITE), user=DEMO_USER))
REMOVAL = Step("The removal as root: a progress line per path, the log on standard error.",
               Run(("--id", DEMO_SUITE)))
LISTING_AFTER = Step("What is installed now: the drivers, which the suite's removal left alone.",
                     LISTING.run)


@dataclass
class DemoRun:
    """The outcome of each run of the demo, in one sandbox holding `world`."""
    world: object
    listing: sandbox.Outcome
    dry_run: sandbox.Outcome
    tree_before: sandbox.Outcome  # the demo's directories after the dry run
    plan: sandbox.Outcome         # the dry run as root, as JSON: the reason for each kept path
    removal: sandbox.Outcome
    tree_after: sandbox.Outcome
    preferences_after: sandbox.Outcome
    listing_after: sandbox.Outcome


def run_demo(world=None, check_plan=False):
    """Lays the demo's world out once and runs every step in it; with
    `check_plan`, the removal is also compared with the plan in a fresh copy
    of the world (see differential.py)."""
    world = world or demo_world()
    outcomes = sandbox.run_all(world, [
        LISTING.run, DRY_RUN.run, TREE,
        Run(("--dry-run", "--json", "--id", DEMO_SUITE)),
        REMOVAL.run, TREE, Run(command=("/bin/cat", SHARED_PREFERENCES)), LISTING_AFTER.run],
        check_plan=check_plan)
    return DemoRun(world, *outcomes)


# --- What the sandbox shows after the removal.

@dataclass(frozen=True)
class Entry:
    """One path of the sandbox's file tree, as find saw it."""
    kind: str    # "f", "d", "l"...
    owner: int
    target: str  # a link's target, else ""


NO_ENTRY = Entry("?", -1, "")


def file_tree(outcome):
    """Path -> Entry, from one of the demo's find runs."""
    fields = outcome.stdout_bytes.decode("utf-8", "surrogateescape").split("\0")
    return {fields[at + 2]: Entry(fields[at], int(fields[at + 1]), fields[at + 3])
            for at in range(0, len(fields) - 3, 4)}


@dataclass(frozen=True)
class Kept:
    """A path of the suite that the plan keeps, and what stands there after
    the removal."""
    path: str      # normalised
    reason: str    # "shared", "system directory", "link refused", "not empty"
    detail: str    # the package that lists it, or the refused link
    there: str     # the path, or for a refused link the file behind it
    present: bool  # `there` is still in the file tree
    link: Entry = None  # the refused link, as it was before the removal


@dataclass
class Summary:
    removed: list           # paths gone, by the sandbox's comparison of its files
    removed_kinds: Counter  # find's letter -> how many of the removed paths
    kept: list              # of Kept
    edits: dict             # property list -> the key paths gone from it
    processes: dict         # program -> how it stands after the removal
    dry_run_changed_nothing: bool
    status: int
    unexpected: list = field(default_factory=list)  # where the tree contradicts the plan


def normal(path):
    """The plain form of a path as a manifest spells it ("/./a", "//a")."""
    return os.path.normpath("/" + path.lstrip("/"))


def key_paths(value, prefix=""):
    """Every key path ("A:B") of a property list's nested dictionaries."""
    found = set()
    for key, element in value.items():
        found.add(prefix + key)
        if isinstance(element, dict):
            found |= key_paths(element, f"{prefix}{key}:")
    return found


def laid_out(world, path):
    """The bytes that the world's recipe writes last at `path`."""
    entries = [entry for entry in world.entries if entry["path"] == path and "data" in entry]
    return base64.b64decode(entries[-1]["data"])


def kept_paths(plan, before, after):
    """The plan's kept paths, each checked in the file tree after the removal."""
    kept = []
    for item in json.loads(plan.stdout)["items"]:
        for effect in item["effects"]:
            if effect["effect"] != "keep":
                continue
            path = normal(effect["path"])
            if effect["reason"] == "link refused":
                link = before.get(effect["link"], NO_ENTRY)
                behind = normal(os.path.join(os.path.dirname(effect["link"]), link.target)
                                + path[len(effect["link"]):])
                kept.append(Kept(path, effect["reason"], effect["link"], behind,
                                 behind in after, link))
            else:
                kept.append(Kept(path, effect["reason"], effect.get("package", ""), path,
                                 path in after))
    return kept


def summarise(demo):
    """What the removal did, from the sandbox: its file trees before and
    after, its comparison of them, its programs and the exit status; the
    reasons for kept paths are the plan's."""
    before, after = file_tree(demo.tree_before), file_tree(demo.tree_after)
    removed = demo.removal.diff.removed
    kept = kept_paths(demo.plan, before, after)
    unexpected = ([f"gone, yet not there before: {path}" for path in removed
                   if path not in before]
                  + [f"gone, yet still there: {path}" for path in removed if path in after]
                  + [f"kept, yet gone: {k.there}" for k in kept if not k.present])

    edits = {}
    for path in demo.removal.diff.changed:
        if path == SHARED_PREFERENCES:
            was = plistlib.loads(laid_out(demo.world, path))
            now = plistlib.loads(demo.preferences_after.stdout_bytes)
            edits[path] = sorted(key_paths(was) - key_paths(now))
        else:
            unexpected.append(f"changed: {path}")

    return Summary(
        removed=removed,
        removed_kinds=Counter(before.get(path, NO_ENTRY).kind for path in removed),
        kept=kept, edits=edits,
        processes={demo.world.launchers.get(launcher, launcher): ending
                   for launcher, ending in demo.removal.background.items()},
        dry_run_changed_nothing=(demo.dry_run.diff.empty and all(
            ending.running for ending in demo.dry_run.background.values())),
        status=demo.removal.status, unexpected=unexpected)


# --- Printing.

def elided(lines, keep=KEEP_AROUND):
    """Cuts each run of more than 2 * keep + 1 lines that start alike (up to
    the first ":", such as "Uninstalling:" or "Would delete:") to its first
    and last `keep` lines around a count of the lines left out."""
    shown, at = [], 0
    while at < len(lines):
        kind = lines[at].split(":", 1)[0] if ":" in lines[at] else None
        end = at + 1
        while kind and end < len(lines) and lines[end].startswith(kind + ":"):
            end += 1
        run = lines[at:end]
        if len(run) > 2 * keep + 1:
            run = (run[:keep] + [f"    [... {len(run) - 2 * keep} more {kind} lines ...]"]
                   + run[-keep:])
        shown += run
        at = end
    return shown


def counted(count, kind):
    singular, plural = KINDS.get(kind, ("other entry", "other entries"))
    return f"{count} {singular if count == 1 else plural}"


def grouped(paths):
    """The outermost of `paths`, each with how many paths lie at or below it;
    three or more outermost paths in one directory make one line."""
    paths = sorted(paths)
    outermost = [path for path in paths
                 if not any(path.startswith(other + "/") for other in paths)]
    siblings = Counter(os.path.dirname(path) for path in outermost)
    lines = []
    for path in outermost:
        parent = os.path.dirname(path)
        if siblings[parent] >= 3:
            line = (f"{parent}/: {siblings[parent]} entries "
                    f"({sum(p.startswith(parent + '/') for p in paths)} paths)")
        else:
            below = sum(p == path or p.startswith(path + "/") for p in paths)
            line = path if below == 1 else f"{path} ({below} paths)"
        if line not in lines:
            lines.append(line)
    return lines


def standing(ending):
    if ending.running:
        return "still running"
    if ending.signal:
        return f"ended by {signal.Signals(ending.signal).name}"
    return f"exited with status {ending.exit}"


def summary_lines(summary):
    kinds = ", ".join(counted(count, kind) for kind, count in sorted(summary.removed_kinds.items()))
    lines = [f"Removed {len(summary.removed)} paths ({kinds}):"]
    lines += [f"  {line}" for line in grouped(summary.removed)]
    lines.append("Kept, for the tool's reason, each still there:")
    for kept in summary.kept:
        if kept.reason == "shared":
            lines.append(f"  shared with {kept.detail}: {kept.path}")
        elif kept.reason != "link refused":
            lines.append(f"  {kept.reason}: {kept.path}")
    for link in sorted({kept.detail for kept in summary.kept if kept.reason == "link refused"}):
        behind = [kept for kept in summary.kept if kept.detail == link]
        lines.append(f"  link refused: {link}, a link of user {behind[0].link.owner} "
                     "(removed as a link), led to")
        names = [os.path.basename(kept.there) for kept in behind]
        lines.append(f"    {os.path.dirname(behind[0].there)}/, where {', '.join(names)} "
                     + ("stays" if len(names) == 1 else "stay") + " untouched")
    for path, keys in summary.edits.items():
        lines.append(f"Edited: {path}, without {', '.join(keys)}")
    lines.append("Processes: " + "; ".join(f"{os.path.basename(program)} {standing(ending)}"
                                           for program, ending in summary.processes.items()))
    meaning = "every item removed" if summary.status == 0 else "an item was not removed"
    lines.append(f"Exit status {summary.status}: {meaning}.")
    lines += [f"UNEXPECTED: {problem}" for problem in summary.unexpected]
    return lines


def step_lines(number, step, outcome, show_log=True):
    lines = ["", f"{number}. {step.title}", step.command]
    lines += elided(outcome.stdout.splitlines())
    if show_log and outcome.log:
        lines.append("  log on standard error (time and process left out):")
        lines += [f"  {line}" for line in elided(outcome.log)]
    lines += [f"  standard error: {line}" for line in outcome.diagnostics]
    return lines


def report(demo):
    """The demo's text, a line an entry, and the summary it ends with."""
    summary = summarise(demo)
    lines = ["A sample Mac in a throwaway sandbox: the suite Quorvane Studio, its application",
             "and background agent running, and device drivers sharing a framework with it."]
    lines += step_lines(1, LISTING, demo.listing)
    lines += step_lines(2, DRY_RUN, demo.dry_run, show_log=False)
    lines.append(f"  exit status {demo.dry_run.status}, as the removal's would be; nothing changed: "
                 + ("the same files, every program still running"
                    if summary.dry_run_changed_nothing else "NOT SO"))
    lines += step_lines(3, REMOVAL, demo.removal)
    lines += step_lines(4, LISTING_AFTER, demo.listing_after)
    lines += ["", "5. What the sandbox shows after the removal: its files and programs."]
    lines += summary_lines(summary)
    return lines, summary


def main():
    try:
        demo = run_demo()
    except sandbox.SandboxUnavailable as error:
        print(f"demo: cannot make the sandbox: {error}", file=sys.stderr)
        return 1
    lines, summary = report(demo)
    print("\n".join(lines))
    return 1 if summary.unexpected else summary.status


if __name__ == "__main__":
    sys.exit(main())
