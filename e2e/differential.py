"""The dry run decides as the real run: for a removal a scenario makes as
root, the same world is laid out afresh and removed once more, first as a
dry run with --json (the plan), then for real with --json (the stream). The
plan's records must be the stream's effect lines, item by item and in
order, less their outcomes. sandbox.run_all makes this check for every
removal it runs unless QU_DIFFERENTIAL=0."""

import json
import os

# What a run prints that tells what it did, beside its effects.
OUTCOME_MEMBERS = {"outcome", "status", "signal", "error"}
# Options that change nothing, or what is printed only.
REMOVAL_OPTIONS = {"--id", "--all", "--silent", "-s", "--json", "-i", "-a"}
# Programs the scenarios run beside the uninstaller that change nothing.
READ_ONLY_COMMANDS = {"/bin/ps", "/usr/bin/find"}


def enabled():
    return os.environ.get("QU_DIFFERENTIAL", "1") != "0"


def plan_effects(plan_text):
    """The records of a JSON plan, each with its item's identifier, in order."""
    return [(item["identifier"], effect) for item in json.loads(plan_text)["items"]
            for effect in item["effects"]]


def stream_effects(stream_text):
    """The effect lines of a JSON stream, each with its item's identifier and
    without its outcome: what the plan of the same world shows."""
    effects, current = [], None
    for line in stream_text.splitlines():
        event = json.loads(line)
        if event["type"] == "item":
            current = event["identifier"]
        elif event["type"] == "effect":
            effects.append((current, {name: value for name, value in event.items()
                                      if name not in OUTCOME_MEMBERS | {"version", "type"}}))
    return effects


def is_removal(run):
    """Whether the run is an ordinary removal by root, with nothing that cuts it short."""
    if run.command or run.user or run.read_stdout or run.file_size_limit or run.environment:
        return False
    words = [word for word in run.arguments if word.startswith("-")]
    return bool(words) and set(words) <= REMOVAL_OPTIONS and (
        "--id" in words or "--all" in words or "-i" in words or "-a" in words)


def changes_nothing(run):
    """Whether a run that went before leaves the world as the scenario laid it out."""
    if run.command:
        return run.command[0] in READ_ONLY_COMMANDS
    return run.user is not None or any(word in run.arguments
                                       for word in ("--list", "-l", "--dry-run", "-n"))


def removals_to_check(runs):
    """The removals that meet the world as it was laid out: nothing before
    them changed it."""
    checked = []
    for run in runs:
        if is_removal(run):
            checked.append(run)
        if not changes_nothing(run):
            break
    return checked


def check(world, run, run_all, Run):
    """Raises AssertionError when the plan and the stream of `run` differ."""
    arguments = tuple(word for word in run.arguments if word != "--json")
    plan, stream = run_all(world, [Run(("--dry-run", "--json", *arguments), timeout=run.timeout),
                                   Run(("--json", *arguments), timeout=run.timeout)],
                           check_plan=False)
    planned, streamed = plan_effects(plan.stdout), stream_effects(stream.stdout)
    if planned != streamed:
        first = next((i for i, (a, b) in enumerate(zip(planned, streamed)) if a != b),
                     min(len(planned), len(streamed)))
        raise AssertionError(
            f"the dry run's plan and the removal's stream differ for {arguments} at record "
            f"{first}:\n  plan:   {planned[first:first + 3]}\n  stream: {streamed[first:first + 3]}")
