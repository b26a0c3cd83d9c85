"""Checks the uninstaller's JSON output against the published schemas in
docs/json-schema: the listing, the plan, the stream of a removal (line by
line, and in order) and a refused command line.

    problems = json_outputs.problems(("--json", "--all"), stdout_bytes, status)

sandbox.run_all calls check_runs for every run, so every scenario that asks
for JSON also checks its shape.
"""

import json
import os

# Without the checker every scenario fails here rather than passing unchecked.
try:
    import jsonschema
except ImportError as error:
    raise ImportError("the end-to-end tests check JSON output with Debian's "
                      "python3-jsonschema: run scripts/setup.sh as root") from error

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMAS = os.path.normpath(os.path.join(HERE, "..", "docs", "json-schema"))
OUTPUTS = ("listing", "plan", "stream-line", "refusal")


def _validators():
    """One validator per output; their references to common.schema.json are
    resolved from the files here, never fetched."""
    documents = {}
    for name in os.listdir(SCHEMAS):
        if name.endswith(".schema.json"):
            with open(os.path.join(SCHEMAS, name), encoding="utf-8") as handle:
                documents["file://" + os.path.join(SCHEMAS, name)] = json.load(handle)
    uri = {output: f"file://{SCHEMAS}/{output}.schema.json" for output in OUTPUTS}
    try:
        # jsonschema 4.18 and later resolve through a registry, and warn about
        # the resolver the older ones need.
        import referencing
        import referencing.jsonschema
        registry = referencing.Registry().with_resources(
            (key, referencing.jsonschema.DRAFT202012.create_resource(document))
            for key, document in documents.items())
        return {output: jsonschema.Draft202012Validator(
                    {"$ref": uri[output]}, registry=registry) for output in OUTPUTS}
    except ImportError:
        return {output: jsonschema.Draft202012Validator(
                    documents[uri[output]],
                    resolver=jsonschema.RefResolver(uri[output], documents[uri[output]],
                                                    store=documents))
                for output in OUTPUTS}


VALIDATORS = _validators()

# The options as getopt_long reads them (options.cc): long ones by name or
# unambiguous abbreviation, "--verbose" winning the shared prefixes of
# "--verbose" and "--version", which answer alike.
LONG_OPTIONS = ("id", "verbose", "version", "list", "all", "gui", "dry-run", "help", "json")
SHORT_OPTIONS = {"g": "gui", "l": "list", "a": "all", "v": "verbose", "i": "id",
                 "n": "dry-run", "h": "help"}


def options_read(arguments):
    """The long names of the options the tool finds in `arguments`, in order,
    "?" for each it refuses."""
    found = []
    arguments = list(arguments)
    while arguments:
        argument = arguments.pop(0)
        if argument == "--":
            break
        if argument.startswith("--"):
            name, equals, _ = argument[2:].partition("=")
            matches = [option for option in LONG_OPTIONS if option.startswith(name)]
            if name in LONG_OPTIONS:
                matches = [name]
            elif set(matches) == {"verbose", "version"}:
                matches = ["verbose"]
            if len(matches) != 1 or (equals and matches[0] != "id"):
                found.append("?")
            elif matches[0] == "id" and not equals and not arguments:
                found.append("?")
            else:
                if matches[0] == "id" and not equals:
                    arguments.pop(0)
                found.append(matches[0])
        elif argument.startswith("-") and argument != "-":
            for place, letter in enumerate(argument[1:], start=1):
                found.append(SHORT_OPTIONS.get(letter, "?"))
                if letter == "i":
                    if place == len(argument) - 1 and not arguments:
                        found[-1] = "?"
                    elif place == len(argument) - 1:
                        arguments.pop(0)
                    break
    return found


def expected_output(arguments):
    """What the tool writes on standard output for `arguments`: "listing",
    "plan" or "stream" (each or a refusal), or None when it is not JSON."""
    found = options_read(arguments)
    # --help and --version answer in text whatever else is asked.
    if "json" not in found or "help" in found or "version" in found:
        return None
    if "list" in found:
        return "listing"
    return "plan" if "dry-run" in found else "stream"


def _no_duplicates(pairs):
    keys = [key for key, _ in pairs]
    duplicated = {key for key in keys if keys.count(key) > 1}
    if duplicated:
        raise ValueError(f"members given twice: {sorted(duplicated)}")
    return dict(pairs)


def _leaves(error):
    """The messages of the alternatives a oneOf or anyOf tried, innermost first."""
    if not error.context:
        return [] if error.validator == "unevaluatedProperties" else [error.message]
    return [message for inner in error.context for message in _leaves(inner)]


def _schema_problems(output, value, where):
    errors = list(VALIDATORS[output].iter_errors(value))

    # A member that fails its own schema also counts as not evaluated in
    # every object around it: those echoes say nothing more.
    def echo(error):
        path = list(error.absolute_path)
        return error.validator == "unevaluatedProperties" and any(
            other is not error and list(other.absolute_path)[:len(path)] == path and (
                len(other.absolute_path) > len(path) or other.validator != error.validator)
            for other in errors)

    found = []
    for error in sorted(errors, key=lambda e: [str(part) for part in e.absolute_path]):
        if echo(error):
            continue
        member = "".join(f"[{part!r}]" for part in error.absolute_path) or "the object"
        message = error.message
        if error.context:
            tried = list(dict.fromkeys(_leaves(error)))
            message = "fits none of the shapes allowed here: " + "; ".join(tried[:6])
        if len(message) > 400:
            message = message[:400] + "..."
        found.append(f"{where}: {member}: {message} ({output}.schema.json)")
    if isinstance(value, dict) and list(value)[:2] != ["version", "type"]:
        found.append(f"{where}: does not start with \"version\" and \"type\"")
    return found


def _parse(text, where):
    try:
        return json.loads(text, object_pairs_hook=_no_duplicates), []
    except ValueError as error:
        return None, [f"{where}: not JSON ({error}): {text[:200]!r}"]


def _refusal_problems(refusal, status, where):
    found = _schema_problems("refusal", refusal, where)
    if refusal.get("status") != status:
        found.append(f"{where}: the refusal says status {refusal.get('status')!r}, "
                     f"the tool exited with {status}")
    return found


def _document_problems(output, text, status):
    document, found = _parse(text, "the document")
    if found:
        return found
    if isinstance(document, dict) and document.get("type") == "refusal":
        if text.count("\n") != 1:
            found.append("a refusal is one line")
        return found + _refusal_problems(document, status, "the refusal")
    found = _schema_problems(output, document, "the document")
    if output == "plan" and not found and document["succeeded"] != (status == 0):
        found.append(f"the plan says succeeded {document['succeeded']}, the tool exited with "
                     f"{status}")
    return found


def _stream_problems(text, status):
    lines = []
    found = []
    for number, line in enumerate(text.split("\n")[:-1], start=1):
        value, wrong = _parse(line, f"line {number}")
        found += wrong
        lines.append(value)
    if found:
        return found
    if len(lines) == 1 and isinstance(lines[0], dict) and lines[0].get("type") == "refusal":
        return _refusal_problems(lines[0], status, "line 1")
    for number, line in enumerate(lines, start=1):
        found += _schema_problems("stream-line", line, f"line {number}")
    if found:
        return found
    return _order_problems(lines, status)


def _order_problems(lines, status):
    """The stream's order: "removing" (unless nothing was selected), each item
    from "item" to "item finished" with its progress and effects between,
    "summary" last; and a summary that agrees with the items and the exit
    status."""
    types = [line["type"] for line in lines]
    if types[-1] != "summary" or types.count("summary") != 1:
        return [f"the stream does not end with its one \"summary\": {types}"]
    if types[0] != "removing" and len(types) != 1:
        return [f"the stream does not start with \"removing\": {types}"]
    found = []
    current = None
    finished = []
    for number, line in enumerate(lines[1:-1], start=2):
        kind = line["type"]
        if kind == "removing":
            found.append(f"line {number}: a second \"removing\"")
        elif kind == "item":
            if current is not None:
                found.append(f"line {number}: an item starts inside item {current!r}")
            current = line["identifier"]
        elif current is None:
            found.append(f"line {number}: {kind!r} outside an item")
        elif kind == "item finished":
            if line["identifier"] != current:
                found.append(f"line {number}: item {line['identifier']!r} finished while "
                             f"{current!r} was being removed")
            finished.append(line)
            current = None
    if current is not None:
        found.append(f"item {current!r} never finished")
    announced = [item["identifier"] for item in lines[0]["items"]] if len(lines) > 1 else []
    if [line["identifier"] for line in finished] != announced:
        found.append(f"the items removed are not those announced, in order: {announced}")
    summary = lines[-1]
    expected = {"removed": [line["identifier"] for line in finished if line["succeeded"]],
                "failed": [line["identifier"] for line in finished if not line["succeeded"]],
                "succeeded": status == 0}
    for member, value in expected.items():
        if summary[member] != value:
            found.append(f"the summary's {member!r} is {summary[member]!r}, expected {value!r} "
                         f"(exit status {status})")
    if summary["succeeded"] == bool(summary["failed"]):
        found.append("the summary's \"succeeded\" does not match its \"failed\" items")
    return found


def problems(arguments, stdout, status):
    """What is wrong with the standard output `stdout` (bytes) of a run with
    `arguments` that ended with `status`: an empty list when it is right, or
    when the run asked for no JSON."""
    output = expected_output(arguments)
    if output is None:
        return []
    try:
        text = stdout.decode("utf-8")
    except UnicodeDecodeError as error:
        return [f"standard output is not UTF-8: {error}"]
    if not text.endswith("\n"):
        return [f"standard output is empty or lacks its last line end: {text[-200:]!r}"]
    if output == "stream":
        return _stream_problems(text, status)
    return _document_problems(output, text, status)


def check_runs(runs, outcomes):
    """Fails with the problems of every run of the uninstaller that asked for
    JSON; runs whose output the harness cut short (a timeout, a file size
    limit, a reader that went away) are left out."""
    report = []
    for run, outcome in zip(runs, outcomes):
        if (run.command or outcome.timed_out or run.file_size_limit is not None
                or run.read_stdout is not None):
            continue
        found = problems(run.arguments, outcome.stdout_bytes, outcome.status)
        if found:
            shown = outcome.stdout[:2000]
            report.append(f"JSON output of quorvane-uninstall {' '.join(run.arguments)} "
                          f"(exit status {outcome.status}) does not follow {SCHEMAS}:\n  "
                          + "\n  ".join(found) + f"\nstandard output:\n{shown}")
    if report:
        raise AssertionError("\n\n".join(report))
