"""The published schemas (docs/json-schema) and the check every scenario's
JSON goes through: right shapes pass, wrong ones fail. No sandbox needed."""

import copy
import json
import unittest

import json_outputs

ITEM = {"identifier": "com.quorvane.studio", "name": "Quorvane Studio", "kind": "receipt",
        "version": "4.2", "visible": True}
HIDDEN = {"identifier": "com.quorvane.studio.support", "name": {"base64": "U3R1ZGlv/w=="},
          "kind": "receipt", "version": None, "visible": False, "children": []}
COLLECTION = {"identifier": "{5A1E5-TOUR}", "name": None, "kind": "gallery",
              "version": "2024-03-01", "visible": True, "children": []}
RUN = {"effect": "run", "role": "pre-remove script", "subject": "/Library/Scripts/preremove",
       "program": "/Library/Scripts/preremove", "arguments": ["--silent", "true"]}
FORGET = {**RUN, "role": "forget", "subject": "com.quorvane.studio",
          "program": "/usr/sbin/pkgutil", "arguments": ["--forget", "com.quorvane.studio"]}
NOT_RUN = {**RUN, "effect": "not run", "role": "service", "program": None,
           "reason": "not controlled by root"}
QUIT = {"effect": "quit", "name": "Quorvane Studio", "path": "/Applications/Quorvane Studio.app",
        "normalised": "/Applications/Quorvane Studio.app", "pid": 412}
KILL = {"effect": "kill", "group": 388, "program": "/Library/Studio/studiod"}
NOT_KILLED = {**KILL, "effect": "not killed", "reason": "it no longer runs the program"}
DELETE = {"effect": "delete", "path": "/./Applications/Studio.app",
          "normalised": "/Applications/Studio.app"}
SHARED = {"effect": "keep", "path": "/./Library/Q.framework", "normalised": "/Library/Q.framework",
          "reason": "shared", "package": "com.quorvane.viewer"}
LINK = {**SHARED, "reason": "link refused", "link": "/Library/Q"}
del LINK["package"]
OWNED = {**SHARED, "reason": "another user's", "owner": None}
del OWNED["package"]
NOT_EMPTY = {"effect": "keep", "path": "/Library/Studio", "normalised": "/Library/Studio",
             "reason": "not empty"}
REMOVE_KEY = {"effect": "remove key", "file": "/Library/Preferences/com.quorvane.plist",
              "key": "Products:Studio"}
RECORDS = [RUN, FORGET, NOT_RUN, QUIT, KILL, NOT_KILLED, DELETE, SHARED, LINK, OWNED, NOT_EMPTY,
           REMOVE_KEY]

LISTING = {"version": 1, "type": "listing",
           "items": [{**ITEM, "children": [HIDDEN]}, COLLECTION]}
PLAN = {"version": 1, "type": "plan", "items": [{**ITEM, "effects": RECORDS}],
        "succeeded": True}
REFUSAL = {"version": 1, "type": "refusal", "message": "Invalid ID Specified: x.", "status": 1}


def line(kind, **members):
    return {"version": 1, "type": kind, **members}


def effect(record, **outcome):
    return line("effect", **record, **outcome)


STREAM = [
    line("removing", items=[ITEM]),
    line("item", identifier=ITEM["identifier"]),
    line("progress", percent=50, path="/./Applications/Studio.app",
         normalised="/Applications/Studio.app"),
    line("progress", percent=250, text=" Removing {5A1E5-TOUR}"),
    effect(RUN, outcome="succeeded", status=0, signal=None),
    effect(RUN, outcome="failed", status=None, signal=9),
    effect(RUN, outcome="not started", error="No such file or directory"),
    effect(FORGET, outcome="started"),
    effect(NOT_RUN),
    effect(QUIT, outcome="sent"),
    effect(KILL, outcome="failed", error="Operation not permitted"),
    effect(NOT_KILLED),
    effect(DELETE, outcome="removed"),
    effect(DELETE, outcome="failed", error="Device or resource busy"),
    effect(SHARED),
    effect(OWNED),
    effect(REMOVE_KEY, outcome="absent"),
    line("item finished", identifier=ITEM["identifier"], succeeded=False),
    line("summary", succeeded=False, removed=[], failed=[ITEM["identifier"]],
         kept=[{key: value for key, value in SHARED.items() if key != "effect"}]),
]


def changed(value, path, new):
    """A copy of `value` with the member at `path` set to `new` (removed when
    `new` is DROP)."""
    value = copy.deepcopy(value)
    *parents, last = path
    target = value
    for key in parents:
        target = target[key]
    if new is DROP:
        del target[last]
    else:
        target[last] = new
    return value


DROP = object()


class SchemaTest(unittest.TestCase):
    def test_each_output_accepts_a_sample_of_every_shape(self):
        samples = [("listing", LISTING), ("plan", PLAN), ("refusal", REFUSAL)]
        samples += [("stream-line", sample) for sample in STREAM]
        for output, sample in samples:
            with self.subTest(output=output, sample=sample):
                self.assertEqual(json_outputs._schema_problems(output, sample, "sample"), [])

    def test_wrong_shapes_are_refused(self):
        effects = ("items", 0, "effects")
        cases = {
            "a plan's record with an outcome": ("plan", changed(PLAN, (*effects, 6, "outcome"),
                                                                "removed")),
            "a plan's record of an unknown effect": ("plan", changed(PLAN, (*effects, 0, "effect"),
                                                                     "erase")),
            "a plan item with children": ("plan", changed(PLAN, ("items", 0, "children"), [])),
            "a listing's child with an extra member": (
                "listing", changed(LISTING, ("items", 0, "children", 0, "effects"), [])),
            "a listing item without its visibility": (
                "listing", changed(LISTING, ("items", 1, "visible"), DROP)),
            "a collection's version that is no date": (
                "listing", changed(LISTING, ("items", 1, "version"), "3/1/24")),
            "text as broken Base64": ("listing", changed(LISTING, ("items", 0, "children", 0,
                                                                   "name"), {"base64": "U3R*"})),
            "a deletion without its outcome": ("stream-line", effect(DELETE)),
            "a kept path with an outcome": ("stream-line", effect(NOT_EMPTY, outcome="absent")),
            "an exit status as a string": ("stream-line", effect(RUN, outcome="failed",
                                                                 status="1", signal=None)),
            "success with a non-zero status": ("stream-line", effect(RUN, outcome="succeeded",
                                                                     status=1, signal=None)),
            "a failure with both status and signal": (
                "stream-line", effect(RUN, outcome="failed", status=1, signal=9)),
            "a waited-for program only started": ("stream-line", effect(RUN, outcome="started")),
            "a shared path without its package": (
                "stream-line", effect(changed(SHARED, ("package",), DROP))),
            "a quit request with a deletion's outcome": ("stream-line",
                                                         effect(QUIT, outcome="removed")),
            "a progress line with both path and text": (
                "stream-line", changed(STREAM[2], ("text",), "x")),
            "a summary's kept path as an effect": ("stream-line", changed(
                STREAM[-1], ("kept", 0, "effect"), "keep")),
            "an unknown line": ("stream-line", line("finished")),
            "a refusal's status as a string": ("refusal", changed(REFUSAL, ("status",), "1")),
            "another version": ("refusal", changed(REFUSAL, ("version",), 2)),
        }
        for name, (output, wrong) in cases.items():
            with self.subTest(name):
                self.assertNotEqual(json_outputs._schema_problems(output, wrong, "sample"), [])


def stream_text(lines):
    return "".join(json.dumps(value) + "\n" for value in lines).encode()


class OutputCheckTest(unittest.TestCase):
    def test_the_output_a_command_line_asks_for(self):
        cases = {
            ("--json", "--all"): "stream",
            ("-an", "--jso"): "plan",
            ("--j", "--dry-run", "-l"): "listing",
            ("--json", "--help"): None,
            ("--json", "--version"): None,
            ("--json", "--ver"): "stream",  # --verbose
            ("--id", "--json", "--all"): None,
            ("-i--json", "--all"): None,
            ("--", "--json"): None,
            ("--json=1", "--all"): None,
        }
        for arguments, expected in cases.items():
            with self.subTest(arguments):
                self.assertEqual(json_outputs.expected_output(arguments), expected)

    def test_a_run_is_checked_as_a_whole(self):
        removing, item, progress, *_, finished, summary = STREAM
        late_item = changed(item, ("identifier",), "com.quorvane.other")
        plan = json.dumps(PLAN, indent=2).encode() + b"\n"
        refusal = stream_text([REFUSAL])
        cases = [
            ("a whole stream", ("--json", "--all"), stream_text(STREAM), 3, None),
            ("a refusal", ("--json", "--id", "x"), refusal, 1, None),
            ("a plan", ("-n", "--json", "--all"), plan, 0, None),
            ("text where JSON was asked for", ("--list", "--json"), b"Installed Packages:\n", 0,
             "not JSON"),
            ("no line end", ("--json", "--all"), stream_text(STREAM)[:-1], 3, "line end"),
            ("a refusal of another status", ("--json", "--id", "x"), refusal, 2, "exited with 2"),
            ("the plan's success against the status", ("-n", "--json", "--all"), plan, 3,
             "succeeded"),
            ("a summary that is not last", ("--json", "--all"),
             stream_text([removing, item, finished, summary, progress]), 3, "does not end"),
            ("a progress line outside its item", ("--json", "--all"),
             stream_text([removing, progress, item, finished, summary]), 3, "outside an item"),
            ("an item finished that is not the one started", ("--json", "--all"),
             stream_text([removing, late_item, finished, summary]), 3, "finished while"),
            ("a summary against the exit status", ("--json", "--all"), stream_text(STREAM), 0,
             "exit status 0"),
            ("a member given twice", ("--json", "--all"),
             b'{"version": 1, "type": "summary", "succeeded": true, "removed": [], '
             b'"failed": [], "kept": [], "kept": []}\n', 0, "given twice"),
        ]
        for name, arguments, stdout, status, problem in cases:
            with self.subTest(name):
                found = json_outputs.problems(arguments, stdout, status)
                if problem is None:
                    self.assertEqual(found, [])
                else:
                    self.assertTrue(any(problem in text for text in found), found)


if __name__ == "__main__":
    unittest.main()
