"""--list and the command line, run on the production binary inside the sandbox."""

import sandbox
from sandbox import Call, Run
from world import GALLERY_PREFERENCES, World, sample_world

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
        outcome = sandbox.run(sample_world(), "--list")

        self.assertEqual(outcome.stdout, SAMPLE_LISTING)
        self.assertEqual(outcome.status, 0)
        self.assertEqual(outcome.log, SAMPLE_LOG)
        # Receipt packages need no database query, and a listing reads no manifest.
        self.assertEqual(outcome.calls, [info_query("com.quorvane.drivers")])
        self.assertTrue(outcome.diff.empty, outcome.diff)


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
        }
        for name, (build, listing, log, queries) in cases.items():
            with self.subTest(name):
                world = World()
                build(world)
                outcome = sandbox.run(world, "--list")
                self.assertEqual(outcome.stdout, HEADER + listing)
                self.assertEqual(outcome.status, 0)
                self.assertEqual(outcome.log, log + [NO_GALLERY])
                self.assertEqual(outcome.calls, [info_query(q) for q in queries])
                self.assertTrue(outcome.diff.empty, outcome.diff)


class CommandLineTest(sandbox.SandboxTestCase):
    def test_outcomes(self):
        invalid = "Invalid ID Specified: {}.\n".format
        not_root = "Root access is required.\n"
        # (arguments, user, standard output, exit status)
        cases = [
            ((), None, "", 0),
            (("--gui", "-v", "--verbose"), None, "", 0),
            (("--bogus",), None, "Usage", 0),
            (("-i",), None, "Usage", 0),
            (("-i", "com.quorvane.drivers", "--bogus"), None, "Usage", 0),
            (("-i", "nothing"), None, invalid("nothing"), 1),
            (("--list", "-i", "nothing"), None, invalid("nothing"), 1),
            (("-i", "com.quorvane.studio.support"), None, invalid("com.quorvane.studio.support"), 1),
            (("--list", "--all"), "nobody", SAMPLE_LISTING, 0),
            (("--li",), "nobody", SAMPLE_LISTING, 0),
            (("-i", "com.quorvane.studio"), "nobody", not_root, 2),
            (("--id=com.quorvane.studio.plugins",), "nobody", not_root, 2),
            (("-a",), "nobody", not_root, 2),
        ]
        runs = [Run(arguments=arguments, user=user) for arguments, user, _, _ in cases]
        outcomes = sandbox.run_all(sample_world(), runs)
        for (arguments, user, stdout, status), outcome in zip(cases, outcomes):
            with self.subTest(arguments=arguments, user=user):
                self.assertEqual((outcome.stdout, outcome.status), (stdout, status))
                # The catalogue is loaded before any option is read, and
                # nothing runs or changes past it.
                self.assertEqual(outcome.log, SAMPLE_LOG)
                self.assertEqual(outcome.calls, [info_query("com.quorvane.drivers")])
                self.assertTrue(outcome.diff.empty, outcome.diff)

    def test_a_child_of_a_hidden_sub_package_is_selected_alone(self):
        world = World()
        child_of_a_hidden_sub_package(world)
        outcome = sandbox.run(world, "--id", "com.quorvane.support.tools")
        self.assertEqual(outcome.stdout, "Removing:\nSupport Tools\n"
                         "Uninstalling:\t[100%] /.\n")
        self.assertEqual(outcome.status, 0)
        receipt = "/Library/Receipts/com.quorvane.support.tools.pkg"
        self.assertEqual(sorted(outcome.diff.removed), sorted(world.paths_under(receipt)))

    def test_unknown_option_leaves_the_parser_message_on_standard_error(self):
        outcome = sandbox.run(sample_world(), "--bogus")
        self.assertEqual(outcome.stdout, "Usage")
        self.assertTrue(any("bogus" in line for line in outcome.diagnostics), outcome.stderr)
