"""--list (as text and as JSON) and the command line, run on the production
binary inside the sandbox."""

import base64
import json
import os
import re

import sandbox
from sandbox import Call, Run
from world import (DESCRIPTIONS, GALLERY_PREFERENCES, RECEIPTS, World, plist_bytes,
                   sample_world)

NO_GALLERY = f"Could not load Gallery Plist: {GALLERY_PREFERENCES}"
SAMPLE_LOG = ["Error loading plist: '.DS_Store'", NO_GALLERY]


def row(identifier, name, depth=0):
    prefix = "-" * depth
    return "%-40s %-30s\n" % (prefix + identifier, prefix + name)


HEADER = "Installed Packages:\n" + row("Identifier", "Name")
SAMPLE_LISTING = (HEADER + row("com.quorvane.drivers", "Quorvane Device Drivers")
                  + row("com.quorvane.studio", "Quorvane Studio")
                  + row("com.quorvane.studio.plugins", "Studio Plug-ins", depth=1))


def info_query(identifier):
    return Call("pkgutil", ("--pkg-info-plist", identifier))


def text_of(value):
    """The bytes of a JSON text value: a string, or {"base64": "..."} for text
    that is not UTF-8."""
    return value.encode() if isinstance(value, str) else base64.b64decode(value["base64"])


def parse_listing(outcome):
    """The JSON listing of a run, read by Python's own parser."""
    document = json.loads(outcome.stdout_bytes)
    assert outcome.stdout_bytes.endswith(b"}\n"), outcome.stdout_bytes[-20:]
    assert (document["version"], document["type"]) == (1, "listing"), document
    return document


def text_listing_of(document):
    """The text listing that a JSON listing stands for: its visible items below
    visible ones, depth first, one more hyphen per level."""
    def row_bytes(identifier, name):
        return b"%-40s %-30s\n" % (identifier, name)

    lines = [b"Installed Packages:\n", row_bytes(b"Identifier", b"Name")]

    def walk(items, prefix):
        for item in items:
            if item["visible"]:
                name = b"(null)" if item["name"] is None else text_of(item["name"])
                lines.append(row_bytes(prefix + text_of(item["identifier"]), prefix + name))
                walk(item["children"], b"-" + prefix)

    walk(document["items"], b"")
    return b"".join(lines)


def run_listings(world):
    """The text listing and the JSON listing of one world, in one sandbox."""
    return sandbox.run_all(world, [Run(("--list",)), Run(("--json", "--list"))])


def assert_same_listing(test, text, as_json):
    """The JSON listing holds what the text listing shows, and costs nothing more."""
    test.assertEqual(text_listing_of(parse_listing(as_json)), text.stdout_bytes)
    test.assertEqual((as_json.status, as_json.log, as_json.calls),
                     (text.status, text.log, text.calls))
    test.assertEqual(as_json.diagnostics, [])
    test.assertTrue(as_json.diff.empty, as_json.diff)


def package(world, file_name, identifier, name=None, recorded_by="receipt", binary=False,
            **settings):
    """An uninstall plist and the system record that proves the package installed."""
    settings = {"pkgid": identifier, "visible": True, **settings}
    if name is not None:
        settings["displayName"] = name
    world.uninstall_plist(file_name, settings, binary=binary)
    if recorded_by == "receipt":
        world.receipt(f"{identifier}.pkg", identifier, version="1.0", binary=binary)
    elif recorded_by == "database":
        world.database_package(identifier)


class SampleListingTest(sandbox.SandboxTestCase):
    def test_lists_visible_packages_with_their_visible_children(self):
        outcome, as_json = run_listings(sample_world())

        self.assertEqual(outcome.stdout, SAMPLE_LISTING)
        self.assertEqual(outcome.status, 0)
        self.assertEqual(outcome.log, SAMPLE_LOG)
        # Receipt packages need no database query, and a listing reads no manifest.
        self.assertEqual(outcome.calls, [info_query("com.quorvane.drivers")])
        self.assertTrue(outcome.diff.empty, outcome.diff)

        # As JSON: every item, hidden ones too, with the kind and version it records.
        assert_same_listing(self, outcome, as_json)
        def item(identifier, name, kind, version, children=(), visible=True):
            return {"identifier": identifier, "name": name, "kind": kind, "version": version,
                    "visible": visible, "children": list(children)}
        self.assertEqual(parse_listing(as_json)["items"], [
            item("com.quorvane.drivers", "Quorvane Device Drivers", "database", "2.0.1"),
            item("com.quorvane.studio", "Quorvane Studio", "receipt", "4.2", [
                item("com.quorvane.studio.plugins", "Studio Plug-ins", "receipt", "4.2"),
                item("com.quorvane.studio.support", "Studio Support", "receipt", "4.2",
                     visible=False)]),
        ])


def latin1_identifier(world):
    """A package whose identifier and name are not UTF-8: the strings of a
    binary property list's ASCII kind are bytes, and nothing stops one above 127."""
    def latin1(value):
        return plist_bytes(value, binary=True).replace(b"caf?", b"caf\xe9")
    world.file(f"{DESCRIPTIONS}/cafe.plist", latin1(
        {"pkgid": "com.quorvane.caf?", "displayName": "caf? tools", "visible": True}))
    world.file(f"{RECEIPTS}/Cafe.pkg/Contents/Info.plist", latin1(
        {"CFBundleIdentifier": "com.quorvane.caf?", "CFBundleShortVersionString": "caf?"}))


def subdirectory(world):
    package(world, "extras/fonts.plist", "com.quorvane.fonts", "Quorvane Fonts",
            recorded_by="database")


def binary_plists(world):
    package(world, "agent.plist", "com.quorvane.enterprise.deployment.agent.daemon",
            "Deployment Agent", binary=True)


def removed_by_other_means(world):
    package(world, "legacy.plist", "com.quorvane.legacy", "Legacy", recorded_by=None)
    package(world, "viewer.plist", "com.quorvane.viewer", "Viewer")


def later_one_wins(world):
    package(world, "a.plist", "com.quorvane.viewer", "Viewer 1", recorded_by="database")
    package(world, "b.plist", "com.quorvane.viewer", "Viewer 2", recorded_by="database")


def own_file_comes_late(world):
    package(world, "alpha.plist", "com.quorvane.tools", "Tools (copy)", recorded_by="database")
    package(world, "com.quorvane.tools.plist", "com.quorvane.tools", "Tools",
            recorded_by="database")


def nested_and_hidden(world):
    package(world, "1.plist", "com.quorvane.studio", "Studio")
    package(world, "2.plist", "com.quorvane.plugins", "Plug-ins", parent="com.quorvane.studio")
    package(world, "3.plist", "com.quorvane.filters", "Filters", parent="com.quorvane.plugins")
    package(world, "4.plist", "com.quorvane.runtime", "Runtime", visible="no")
    package(world, "5.plist", "com.quorvane.runtime.tools", "Runtime Tools",
            parent="com.quorvane.runtime")
    package(world, "6.plist", "com.quorvane.cache", "Cache", visible=0)


def child_of_a_hidden_sub_package(world):
    # The hidden sub-package is not described in a file named after it, so
    # its child has no parent to go under and is top-level.
    package(world, "1.plist", "com.quorvane.studio", "Studio")
    package(world, "2.plist", "com.quorvane.support", "Support", parent="com.quorvane.studio",
            visible=False)
    package(world, "3.plist", "com.quorvane.support.tools", "Support Tools",
            parent="com.quorvane.support")


def unknown_parent_and_no_name(world):
    package(world, "orphan.plist", "com.quorvane.orphan", "Orphan", parent="com.quorvane.gone")
    package(world, "unnamed.plist", "com.quorvane.unnamed")


class LoaderListingTest(sandbox.SandboxTestCase):
    def test_scenarios(self):
        # (world, listing lines after the header, log lines before the gallery's,
        #  package-database queries)
        cases = {
            "no descriptions directory": (
                lambda world: None, "", ["Nothing found to remove"], []),
            "sub-directory": (
                subdirectory, row("com.quorvane.fonts", "Quorvane Fonts"),
                ["Error loading plist: 'extras'"], ["com.quorvane.fonts"]),
            "binary property lists, long identifier": (
                binary_plists,
                "com.quorvane.enterprise.deployment.agent.daemon " + "%-30s\n" % "Deployment Agent",
                [], []),
            "package removed by other means": (
                removed_by_other_means, row("com.quorvane.viewer", "Viewer"),
                ["Error loading plist: 'legacy.plist'"], ["com.quorvane.legacy"]),
            "the later one wins": (
                later_one_wins, row("com.quorvane.viewer", "Viewer 2"), [],
                ["com.quorvane.viewer", "com.quorvane.viewer"]),
            "a file named after a loaded identifier is skipped": (
                own_file_comes_late, row("com.quorvane.tools", "Tools (copy)"), [],
                ["com.quorvane.tools"]),
            "nesting and hidden packages": (
                nested_and_hidden,
                row("com.quorvane.studio", "Studio")
                + row("com.quorvane.plugins", "Plug-ins", depth=1)
                + row("com.quorvane.filters", "Filters", depth=2),
                [], []),
            "child of a hidden sub-package without its own file": (
                child_of_a_hidden_sub_package,
                row("com.quorvane.studio", "Studio")
                + row("com.quorvane.support.tools", "Support Tools"),
                [], []),
            "unknown parent, no display name": (
                unknown_parent_and_no_name,
                row("com.quorvane.orphan", "Orphan") + row("com.quorvane.unnamed", "(null)"),
                [], []),
            "text that is not UTF-8": (
                latin1_identifier,
                "%-40s %-30s\n" % ("com.quorvane.caf\ufffd", "caf\ufffd tools"), [], []),
        }
        for name, (build, listing, log, queries) in cases.items():
            with self.subTest(name):
                world = World()
                build(world)
                outcome, as_json = run_listings(world)
                self.assertEqual(outcome.stdout, HEADER + listing)
                self.assertEqual(outcome.status, 0)
                self.assertEqual(outcome.log, log + [NO_GALLERY])
                self.assertEqual(outcome.calls, [info_query(q) for q in queries])
                self.assertTrue(outcome.diff.empty, outcome.diff)
                assert_same_listing(self, outcome, as_json)


# The binary's path inside the sandbox, which the option parser's complaints begin with.
PROGRAM = "/usr/local/libexec/quorvane-uninstall"
HINT = "Try 'quorvane-uninstall --help'."
HELP = object()  # stands for the text of --help
HERE = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(HERE, "..", "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(\S+ VERSION (\S+)", cmake.read()).group(1)


def ignoring(argument, installed=False):
    if installed:
        return f"ignoring '{argument}'; to remove the item, use --id {argument}"
    return f"ignoring '{argument}'; it is not an option (see --help)"


class CommandLineTest(sandbox.SandboxTestCase):
    def test_outcomes(self):
        invalid = "Invalid ID Specified: {}.\n".format
        not_root = "Root access is required.\n"
        version = f"quorvane-uninstall {project_version()}\n"
        # (arguments, user, standard output, exit status, lines on standard
        #  error besides the log, with the program's path left out)
        cases = [
            ((), None, "", 0, []),
            (("--gui", "-v", "--verbose"), None, "", 0, []),
            (("--v", "--ve", "--ver"), None, "", 0, []),
            (("--bogus",), None, "Usage", 0, [": unrecognized option '--bogus'", HINT]),
            (("--dry-rnu", "--id", "com.quorvane.studio"), None, "Usage", 0,
             [": unrecognized option '--dry-rnu'", HINT]),
            (("-i",), None, "Usage", 0, [": option requires an argument -- 'i'", HINT]),
            (("-i", "com.quorvane.drivers", "--bogus"), None, "Usage", 0,
             [": unrecognized option '--bogus'", HINT]),
            (("-i", "nothing"), None, invalid("nothing"), 1, []),
            (("--list", "-i", "nothing"), None, invalid("nothing"), 1, []),
            (("-i", "com.quorvane.studio.support"), None, invalid("com.quorvane.studio.support"),
             1, []),
            (("--id", "--help"), None, invalid("--help"), 1, []),
            (("--list", "--all"), "nobody", SAMPLE_LISTING, 0, []),
            (("--li",), "nobody", SAMPLE_LISTING, 0, []),
            (("-i", "com.quorvane.studio"), "nobody", not_root, 2, []),
            (("--id=com.quorvane.studio.plugins",), "nobody", not_root, 2, []),
            (("-a",), "nobody", not_root, 2, []),
            # An identifier without --id removes nothing, and says so.
            (("com.quorvane.studio",), "nobody", "", 0, [ignoring("com.quorvane.studio", True)]),
            (("--list", "studio", "com.quorvane.studio.support"), "nobody", SAMPLE_LISTING, 0,
             [ignoring("studio"), ignoring("com.quorvane.studio.support")]),
            (("--", "--help"), None, "", 0, [ignoring("--help")]),
            # Help and version are answered before anything is loaded.
            (("--help",), "nobody", HELP, 0, None),
            (("--bogus", "-i", "nothing", "--he"), None, HELP, 0, None),
            (("--version",), "nobody", version, 0, None),
        ]
        runs = [Run(arguments=arguments, user=user) for arguments, user, *_ in cases]
        outcomes = sandbox.run_all(sample_world(), runs)
        help_text = outcomes[[case[2] for case in cases].index(HELP)].stdout
        for (arguments, user, stdout, status, errors), outcome in zip(cases, outcomes):
            with self.subTest(arguments=arguments, user=user):
                expected = help_text if stdout is HELP else stdout
                self.assertEqual((outcome.stdout, outcome.status), (expected, status))
                self.assertTrue(outcome.diff.empty, outcome.diff)
                if errors is None:
                    self.assertEqual((outcome.stderr, outcome.calls), ("", []))
                    continue
                self.assertEqual([line.removeprefix(PROGRAM) for line in outcome.diagnostics],
                                 errors)
                # The catalogue is loaded before any option is read, and
                # nothing runs or changes past it.
                self.assertEqual(outcome.log, SAMPLE_LOG)
                self.assertEqual(outcome.calls, [info_query("com.quorvane.drivers")])

    def test_a_child_of_a_hidden_sub_package_is_selected_alone(self):
        world = World()
        child_of_a_hidden_sub_package(world)
        outcome = sandbox.run(world, "--id", "com.quorvane.support.tools")
        self.assertEqual(outcome.stdout, "Removing:\nSupport Tools\n"
                         "Uninstalling:\t[100%] /.\n")
        self.assertEqual(outcome.status, 0)
        receipt = "/Library/Receipts/com.quorvane.support.tools.pkg"
        self.assertEqual(sorted(outcome.diff.removed), sorted(world.paths_under(receipt)))

    def test_help_names_what_the_tool_reads_and_its_examples_work(self):
        help_run, = sandbox.run_all(World(), [Run(("--help",))])
        help_text = help_run.stdout
        self.assertTrue(help_text.startswith("Usage: quorvane-uninstall "), help_text)
        self.assertTrue(help_text.endswith("\n"))
        for location in (DESCRIPTIONS, RECEIPTS, GALLERY_PREFERENCES, "/usr/sbin/pkgutil"):
            self.assertIn(location, help_text)
        for status in range(4):
            self.assertRegex(help_text, rf"(?m)^  {status}  ")
        # "  [sudo] quorvane-uninstall ARGUMENT...", to the end of the text.
        examples = [line.split() for line in help_text.split("Examples:\n")[1].splitlines()]
        examples = [words[words.index("quorvane-uninstall") + 1:] for words in examples]
        self.assertEqual(len(examples), 3)
        outcomes = sandbox.run_all(sample_world(), [Run(tuple(words)) for words in examples])
        for words, outcome in zip(examples, outcomes):
            with self.subTest(example=words):
                self.assertEqual(outcome.status, 0, outcome.stdout)
                self.assertTrue(outcome.stdout.startswith(("Installed Packages:", "Removing:")),
                                outcome.stdout)
