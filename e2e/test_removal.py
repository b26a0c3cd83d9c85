"""Removing packages with the production binary, as root, inside the sandbox:
every step of a package's removal, the programs it stops, the hidden
packages that go with the last visible one, and failures along the way."""

import os
import plistlib
import signal
from datetime import datetime

import sandbox
from sandbox import Call, Ending, Run
from world import GALLERY_PREFERENCES, RECEIPTS, World, plist_bytes, receipt_package

NO_GALLERY = f"Could not load Gallery Plist: {GALLERY_PREFERENCES}"
SUPPORT = "/Library/Application Support/Quorvane Technologies"
SCRIPTS = f"{SUPPORT}/Scripts"


def announcement(*names):
    return "Removing:\n" + "".join(name + "\n" for name in names)


def progress(percent, path):
    return f"Uninstalling:\t[{percent}%] {path}\n"


def typed(value):
    """A property-list value with the type of every element spelt out, so
    that 1, 1.0 and True no longer compare equal."""
    if isinstance(value, dict):
        return {key: typed(element) for key, element in value.items()}
    if isinstance(value, list):
        return [typed(element) for element in value]
    return (type(value).__name__, value)


# --- A receipt package with every optional step and a package-database
# driver package with none.

STUDIO_SCRIPT = f"{SCRIPTS}/studio-preremove"
AGENT_SERVICE = "/Library/LaunchDaemons/com.quorvane.studio.agent.plist"
HELPER_SERVICE = "/Library/LaunchAgents/com.quorvane.studio.helper.plist"
STUDIO_CACHE = f"{SUPPORT}/Studio Cache"
SHARED = f"{SUPPORT}/Shared"
PREFERENCES = "/Library/Preferences/com.quorvane.shared.plist"
ABSENT_PREFERENCES = "/Library/Preferences/com.quorvane.absent.plist"
EXTENSIONS = "/Library/Extensions"

STUDIO_FILES = ["Applications/Quorvane Studio.app/Contents/MacOS/Quorvane Studio",
                "Applications/Quorvane Studio.app/Contents/Info.plist",
                "Library/Application Support/Quorvane Technologies/Shared/studio.cfg"]
STUDIO_DIRS = ["Applications/Quorvane Studio.app",
               "Applications/Quorvane Studio.app/Contents",
               "Applications/Quorvane Studio.app/Contents/MacOS",
               "Library/Application Support/Quorvane Technologies/Shared"]

VIDEO = "Library/Extensions/QuorvaneVideo.kext"
CODEC = f"{VIDEO}/Contents/PlugIns/QuorvaneCodec.kext"
LEGACY = "Library/Extensions/QuorvaneLegacy.KEXT"
DRIVER_FILES = [f"{VIDEO}/Contents/Info.plist", f"{CODEC}/Contents/Info.plist",
                f"{LEGACY}/Info.plist"]
DRIVER_DIRS = ["Library/Extensions", VIDEO, f"{VIDEO}/Contents", f"{VIDEO}/Contents/PlugIns",
               CODEC, f"{CODEC}/Contents", LEGACY]

SHARED_PREFERENCES = {
    "Studio": {"LicenseFile": f"{SUPPORT}/Studio/license.lic", "Seats": 5, "Trial": False,
               "Expires": datetime(2027, 1, 31, 12, 0)},
    "Viewer": {"Zoom": 1.25, "Recent": ["Plan.qvd", "Grundriss für Ärzte.qvd"],
               "Token": b"\x00\x01\xfe", "Offset": -42, "Sync": True},
    "Version": 3,
}


def studio_and_drivers():
    world = World()
    world.program(STUDIO_SCRIPT)
    world.plist(AGENT_SERVICE, {"Label": "com.quorvane.studio.agent"})
    world.plist(HELPER_SERVICE, {"Label": "com.quorvane.studio.helper"})
    world.installed(STUDIO_CACHE, files=["index.db", "thumbnails/1.png"])
    world.file(f"{SHARED}/other.cfg", "written by another product\n")
    world.file(PREFERENCES, plist_bytes(SHARED_PREFERENCES), mode=0o640)
    receipt_package(
        world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
        files=STUDIO_FILES, dirs=STUDIO_DIRS,
        preRemoveScript=STUDIO_SCRIPT,
        services=[AGENT_SERVICE, HELPER_SERVICE],
        additionalfiles=[AGENT_SERVICE, STUDIO_CACHE],
        plistremove={PREFERENCES: ["Studio:LicenseFile", "Studio:Seats:Count", "Nothing:Here"],
                     ABSENT_PREFERENCES: ["Studio"]})

    world.uninstall_plist("com.quorvane.videodrivers.plist", {
        "pkgid": "com.quorvane.videodrivers", "displayName": "Quorvane Video Drivers",
        "visible": True})
    world.database_package("com.quorvane.videodrivers", files=DRIVER_FILES, dirs=DRIVER_DIRS)
    world.installed("/", files=DRIVER_FILES, dirs=DRIVER_DIRS)
    world.file(f"{EXTENSIONS}/OtherVendor.kext/Contents/Info.plist")
    return world


class PackageSequenceTest(sandbox.SandboxTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.world = studio_and_drivers()
        cls.removal, cls.preferences, cls.preferences_mode = sandbox.run_all(cls.world, [
            Run(arguments=("--all",)),
            Run(command=("/bin/cat", PREFERENCES)),
            Run(command=("/usr/bin/stat", "-c", "%a %U:%G", PREFERENCES)),
        ])

    def test_announces_the_packages_and_climbs_through_both_manifests(self):
        # The database tool's forget request runs alongside, on the same
        # standard output, and may answer at any time.
        forgot = "Forgot package 'com.quorvane.videodrivers' on '/'.\n"
        self.assertEqual(self.removal.stdout.count(forgot), 1, self.removal.stdout)
        # Receipt paths are the install location joined to the bill of
        # materials' "./" paths; database paths are volume, install location
        # and the tool's relative path, hence "//". Longest first, files
        # before directories; the second package starts at 50%.
        self.assertEqual(self.removal.stdout.replace(forgot, ""), "".join([
            announcement("Quorvane Studio", "Quorvane Video Drivers"),
            progress(6, "/./Library/Application Support/Quorvane Technologies/Shared/studio.cfg"),
            progress(12, "/./Applications/Quorvane Studio.app/Contents/MacOS/Quorvane Studio"),
            progress(18, "/./Applications/Quorvane Studio.app/Contents/Info.plist"),
            progress(25, "/./Library/Application Support/Quorvane Technologies/Shared"),
            progress(31, "/./Applications/Quorvane Studio.app/Contents/MacOS"),
            progress(37, "/./Applications/Quorvane Studio.app/Contents"),
            progress(43, "/./Applications/Quorvane Studio.app"),
            progress(50, "/."),
            progress(55, f"//{CODEC}/Contents/Info.plist"),
            progress(60, f"//{VIDEO}/Contents/Info.plist"),
            progress(65, f"//{LEGACY}/Info.plist"),
            progress(70, f"//{CODEC}/Contents"),
            progress(75, f"//{CODEC}"),
            progress(80, f"//{VIDEO}/Contents/PlugIns"),
            progress(85, f"//{VIDEO}/Contents"),
            progress(90, f"//{LEGACY}"),
            progress(95, f"//{VIDEO}"),
            progress(100, "//Library/Extensions"),
        ]))
        self.assertEqual(self.removal.status, 0)
        self.assertEqual(self.removal.diagnostics, [])

    def test_runs_each_step_in_order(self):
        bom = f"{RECEIPTS}/QuorvaneStudio.pkg/Contents/Archive.bom"
        drivers = "com.quorvane.videodrivers"
        self.assertEqual(self.removal.calls, [
            # Loading: the receipt answers for the studio, the database for the drivers.
            Call("pkgutil", ("--pkg-info-plist", drivers)),
            # The studio: script and services before any list is read; the
            # file list for the process lookup, the directory list for the
            # extension scan, which finds none.
            Call(STUDIO_SCRIPT, ("--silent", "true")),
            Call("launchctl", ("unload", AGENT_SERVICE)),
            Call("launchctl", ("unload", HELPER_SERVICE)),
            Call("ps", ("-Ao", "pid=,comm=")),
            Call("lsbom", ("-fls", bom)),
            Call("lsbom", ("-ds", bom)),
            # The drivers: the nested extension is unloaded before its
            # container, the upper-case ".KEXT" not at all; the database
            # forgets the package once its files are gone.
            Call("pkgutil", ("--pkg-info-plist", drivers)),
            Call("ps", ("-Ao", "pid=,comm=")),
            Call("pkgutil", ("", "--files", drivers)),
            Call("pkgutil", ("--only-dirs", "--files", drivers)),
            Call("kextunload", (f"//{CODEC}",)),
            Call("kextunload", (f"//{VIDEO}",)),
            Call("pkgutil", ("--forget", drivers)),
        ])

    def test_logs_the_outcome_of_every_program(self):
        self.assertEqual(self.removal.log, [
            NO_GALLERY,
            f"Pre-remove script succeeded: {STUDIO_SCRIPT}",
            f"Service Unloaded: {AGENT_SERVICE}",
            f"Service Unloaded: {HELPER_SERVICE}",
            f"Kext Unloaded: //{CODEC}",
            f"Kext Unloaded: //{VIDEO}",
        ])

    def test_removes_exactly_what_the_packages_own(self):
        under = self.world.paths_under
        expected = (
            under("/Applications/Quorvane Studio.app")
            | {f"{SHARED}/studio.cfg", AGENT_SERVICE}
            | under(STUDIO_CACHE)
            | under(f"{RECEIPTS}/QuorvaneStudio.pkg")
            | under(f"/{VIDEO}") | under(f"/{LEGACY}")
            | {"/var/db/qu-fake-pkgdb/com.quorvane.videodrivers.json"})
        self.assertEqual(sorted(self.removal.diff.removed), sorted(expected))
        # Directories that still hold another product's files stay, the
        # unloaded-only service's job file stays, and an edit of a missing
        # property list creates nothing.
        self.assertEqual(self.removal.diff.changed, [PREFERENCES])
        self.assertEqual(self.removal.diff.added, [])

    def test_edits_the_other_property_list_in_place(self):
        expected = {**SHARED_PREFERENCES, "Studio": {
            key: value for key, value in SHARED_PREFERENCES["Studio"].items()
            if key != "LicenseFile"}}
        self.assertEqual(typed(plistlib.loads(self.preferences.stdout_bytes)), typed(expected))
        self.assertEqual(self.preferences_mode.stdout, "640 root:root\n")


# --- Programs of the package that are running.

APPLICATIONS = "/Applications"
STUDIO_APP = f"{APPLICATIONS}/Quorvane Studio.app/Contents/MacOS/Quorvane Studio"
PLAYER_APP = f"{APPLICATIONS}/Quorvane Player.app/Contents/MacOS/Quorvane Player"
AGENT = f"{SUPPORT}/Agent/agentd"
UNINSTALLER_APP = (f"{APPLICATIONS}/Quorvane Technologies/Quorvane Uninstaller.app"
                   "/Contents/MacOS/Quorvane Uninstaller")
BYSTANDER = "/usr/local/bin/quorvane-monitor"


class RunningProgramsTest(sandbox.SandboxTestCase):
    def test_applications_are_asked_to_quit_and_other_programs_are_killed(self):
        world = World()
        programs = [STUDIO_APP, PLAYER_APP, AGENT, UNINSTALLER_APP]
        receipt_package(world, "com.quorvane.suite", "Quorvane Suite", "QuorvaneSuite.pkg",
                        files=[path.lstrip("/") for path in programs])
        world.running(STUDIO_APP)
        # An application that ignores the quit request keeps running: it is
        # not killed instead.
        world.running(PLAYER_APP, ignoring=(signal.SIGTERM,))
        world.running(AGENT)
        world.running(UNINSTALLER_APP)
        world.running(BYSTANDER)

        outcome = sandbox.run(world, "--id", "com.quorvane.suite")

        self.assertEqual(outcome.background, {
            STUDIO_APP: Ending(signal=signal.SIGTERM),
            PLAYER_APP: Ending(running=True),
            AGENT: Ending(signal=signal.SIGKILL),
            UNINSTALLER_APP: Ending(running=True),
            BYSTANDER: Ending(running=True),
        })
        # Applications in the order they were launched; the graphical
        # uninstaller is not asked, and background programs die unannounced.
        self.assertEqual(outcome.log, [NO_GALLERY, "Killing: Quorvane Studio",
                                       "Killing: Quorvane Player"])
        self.assertEqual(outcome.status, 0)
        # The programs' files go like any other, the protected one's included.
        self.assertTrue(set(programs) <= set(outcome.diff.removed), outcome.diff.removed)

    def test_letter_case_and_composition_never_prevent_a_match(self):
        # The manifests list the programs in other letter case or composition
        # than they run under; the packages run in the order of their folded
        # names, "Ä" with "a".
        world = World()
        ete = "/Applications/\u00c9t\u00e9.app/Contents/MacOS/\u00c9t\u00e9"
        daemon = "/Library/Quorvane/\u00c4rger/qd"
        oil = "/Applications/Quorvane \u00d6l.app/Contents/MacOS/Quorvane \u00d6l"
        listed = {
            "com.quorvane.apfel": ("\u00e4pfel", "applications/e\u0301te\u0301.app/contents/"
                                   "macos/e\u0301te\u0301"),
            "com.quorvane.aerger": ("\u00c4rger", "Library/Quorvane/\u00e4rger/qd"),
            "com.quorvane.aether": ("\u00c4ther", oil.lower().lstrip("/")),
        }
        for identifier, (name, path) in listed.items():
            receipt_package(world, identifier, name, f"{identifier}.pkg", files=[path])
        world.running(ete)
        world.running(daemon)
        # Shown by the process list as it was started, in lower case; the
        # application's bundle path keeps its own spelling.
        world.running(oil, shown_as=oil.lower())

        outcome = sandbox.run(world, "--all")

        self.assertTrue(outcome.stdout.startswith(
            announcement("\u00e4pfel", "\u00c4rger", "\u00c4ther")), outcome.stdout)
        self.assertEqual(outcome.background, {
            ete: Ending(signal=signal.SIGTERM),
            daemon: Ending(signal=signal.SIGKILL),
            oil: Ending(signal=signal.SIGTERM),
        })
        self.assertEqual(outcome.log, [NO_GALLERY, "Killing: \u00c9t\u00e9",
                                       "Killing: Quorvane \u00d6l"])
        self.assertEqual(outcome.status, 0)


class ForgedProcessLineTest(sandbox.SandboxTestCase):
    def test_a_forged_line_in_a_program_name_never_signals_an_unrelated_program(self):
        world = World()
        receipt_package(world, "com.quorvane.suite", "Quorvane Suite", "QuorvaneSuite.pkg",
                        files=[AGENT.lstrip("/")])
        world.running(BYSTANDER)
        # A user's program whose name holds a line separator, then a "pid path"
        # pair naming the bystander's pid and a program of the package.
        for separator in ("\u2028", "\r"):
            world.running(f"/Users/Shared/evil{ord(separator)}",
                          shown_as=f"/Users/Shared/evil{separator}{{pid of {BYSTANDER}}} {AGENT}")

        outcome = sandbox.run(world, "--id", "com.quorvane.suite")

        self.assertEqual(outcome.background[BYSTANDER], Ending(running=True))
        self.assertEqual(outcome.status, 0)


# --- The selection grows by the hidden packages when it takes the last visible one.

# identifier: (display name, receipt bundle, its one file, visible)
PACKAGES = {
    "com.quorvane.studio": ("Quorvane Studio", "QuorvaneStudio.pkg",
                            "Applications/Quorvane Studio.app/Contents/MacOS/Quorvane Studio",
                            True),
    "com.quorvane.runtime": ("Quorvane Runtime", "QuorvaneRuntime.pkg",
                             "Library/Frameworks/QuorvaneRuntime.framework/QuorvaneRuntime",
                             False),
    "com.quorvane.viewer": ("Quorvane Viewer", "QuorvaneViewer.pkg",
                            "Applications/Quorvane Viewer.app/Contents/MacOS/Quorvane Viewer",
                            True),
}
STUDIO_BINARY = PACKAGES["com.quorvane.studio"][2]
RUNTIME_LIBRARY = PACKAGES["com.quorvane.runtime"][2]
VIEWER_BINARY = PACKAGES["com.quorvane.viewer"][2]


class HiddenPackagesTest(sandbox.SandboxTestCase):
    def test_hidden_packages_go_with_the_last_visible_one(self):
        # (installed packages, standard output, removed packages); the studio
        # is selected, the runtime is hidden.
        cases = {
            "the only visible package": (
                ["com.quorvane.studio", "com.quorvane.runtime"],
                announcement("Quorvane Runtime", "Quorvane Studio")
                + progress(25, f"/./{RUNTIME_LIBRARY}") + progress(50, "/.")
                + progress(75, f"/./{STUDIO_BINARY}") + progress(100, "/."),
                ["com.quorvane.studio", "com.quorvane.runtime"]),
            "another visible package stays": (
                ["com.quorvane.studio", "com.quorvane.runtime", "com.quorvane.viewer"],
                announcement("Quorvane Studio")
                + progress(50, f"/./{STUDIO_BINARY}") + progress(100, "/."),
                ["com.quorvane.studio"]),
        }
        for name, (installed, stdout, removed) in cases.items():
            with self.subTest(name):
                world = World()
                for identifier in installed:
                    display_name, bundle, path, visible = PACKAGES[identifier]
                    receipt_package(world, identifier, display_name, bundle, files=[path],
                                    visible=visible)

                outcome = sandbox.run(world, "--id", "com.quorvane.studio")

                self.assertEqual(outcome.stdout, stdout)
                self.assertEqual(outcome.status, 0)
                expected = set()
                for identifier in removed:
                    _, bundle, path, _ = PACKAGES[identifier]
                    expected |= {f"/{path}"} | world.paths_under(f"{RECEIPTS}/{bundle}")
                self.assertEqual(sorted(outcome.diff.removed), sorted(expected))


# --- Failures along the way stop nothing.

FAILING_SCRIPT = f"{SCRIPTS}/studio-preremove"
MISSING_SCRIPT = f"{SCRIPTS}/viewer-preremove"
BROKEN_SERVICE = "/Library/LaunchDaemons/com.quorvane.studio.broken.plist"
STUDIO_KEXT = "Library/Extensions/QuorvaneStudio.kext"


class FailingStepsTest(sandbox.SandboxTestCase):
    def test_failures_are_logged_and_everything_else_is_still_removed(self):
        world = World()
        world.program(FAILING_SCRIPT, status=1)
        world.failing(BROKEN_SERVICE)
        world.failing(STUDIO_KEXT)
        studio = receipt_package(
            world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
            files=[STUDIO_BINARY, f"{STUDIO_KEXT}/Contents/Info.plist"],
            dirs=[STUDIO_KEXT, f"{STUDIO_KEXT}/Contents"],
            preRemoveScript=FAILING_SCRIPT, services=[BROKEN_SERVICE, AGENT_SERVICE])
        viewer = receipt_package(
            world, "com.quorvane.viewer", "Quorvane Viewer", "QuorvaneViewer.pkg",
            files=[VIEWER_BINARY], preRemoveScript=MISSING_SCRIPT)

        outcome = sandbox.run(world, "--all", "--gui")

        self.assertEqual(outcome.log, [
            NO_GALLERY,
            f"Pre-remove script FAILED: {FAILING_SCRIPT}",
            f"Service Unload FAILED: {BROKEN_SERVICE}",
            f"Service Unloaded: {AGENT_SERVICE}",
            f"Kext Unload FAILED: /./{STUDIO_KEXT}",
            f"Pre-remove script FAILED: {MISSING_SCRIPT} "
            "(could not be started: No such file or directory)",
        ])
        # Not silent: the front end is there to answer the script's questions.
        self.assertEqual(outcome.calls_of(FAILING_SCRIPT), [("--silent", "false")])
        self.assertEqual(outcome.status, 0)
        expected = (world.paths_under(studio) | world.paths_under(viewer)
                    | {f"/{STUDIO_BINARY}", f"/{VIEWER_BINARY}"}
                    | world.paths_under(f"/{STUDIO_KEXT}"))
        self.assertEqual(sorted(outcome.diff.removed), sorted(expected))


    def test_a_package_whose_files_stay_is_not_forgotten_and_a_rerun_finishes(self):
        # The program's folder on a read-only mount, as system protection or
        # an immutable flag refuses a deletion on a Mac.
        world = World()
        studio = receipt_package(
            world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
            files=[STUDIO_BINARY], dirs=[os.path.dirname(STUDIO_BINARY)])
        folder = f"/{os.path.dirname(STUDIO_BINARY)}"
        removal = Run(arguments=("--id", "com.quorvane.studio"))
        listing = Run(arguments=("--list",))
        first, listed, _, rerun, listed_after = sandbox.run_all(world, [
            Run(command=("/bin/sh", "-c", f'mount --bind "{folder}" "{folder}" && '
                                          f'mount -o remount,bind,ro "{folder}"')),
            removal, listing, Run(command=("/bin/umount", folder)), removal, listing])[1:]

        self.assertEqual(first.status, 3)
        self.assertEqual(first.log, [
            NO_GALLERY,
            f"Could not delete '/./{STUDIO_BINARY}': Read-only file system",
            # The folder is the mount point here.
            f"Could not delete '{folder[:1]}./{folder[1:]}': Device or resource busy",
            "Package FAILED: com.quorvane.studio (2 paths could not be removed; "
            "its record is kept)"])
        self.assertNotIn(studio, first.diff.removed)
        self.assertIn("com.quorvane.studio", listed.stdout)
        self.assertEqual((rerun.status, rerun.log), (0, [NO_GALLERY]))
        self.assertIn(f"/{STUDIO_BINARY}", rerun.diff.removed)
        self.assertIn(studio, rerun.diff.removed)
        self.assertNotIn("com.quorvane.studio", listed_after.stdout)


    def test_a_job_or_extension_a_user_controls_is_not_handed_to_the_tools(self):
        world = World()
        user_job = "/Library/LaunchDaemons/com.quorvane.user.plist"
        receipt_package(
            world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
            files=[f"{STUDIO_KEXT}/Contents/Info.plist"],
            dirs=[STUDIO_KEXT, f"{STUDIO_KEXT}/Contents"], services=[user_job, AGENT_SERVICE])
        world.file(user_job, "<plist/>", owner=1000)
        world.directory(f"/{STUDIO_KEXT}", owner=1000)

        outcome = sandbox.run(world, "--all")

        self.assertEqual(outcome.log, [
            NO_GALLERY,
            f"Service Unload FAILED: {user_job} (not run: owned by user 1000)",
            f"Service Unloaded: {AGENT_SERVICE}",
            f"Kext Unload FAILED: /./{STUDIO_KEXT} (not run: the directory /{STUDIO_KEXT} is "
            "not root's alone)"])
        self.assertEqual(outcome.calls_of("launchctl"), [("unload", AGENT_SERVICE)])
        self.assertEqual(outcome.calls_of("kextunload"), [])


class PlantedScriptTest(sandbox.SandboxTestCase):
    def test_a_script_an_ordinary_user_could_have_replaced_is_not_run_as_root(self):
        viewer_script = f"{APPLICATIONS}/Quorvane Viewer.app/Contents/Resources/preremove"
        world = World()
        world.program(STUDIO_SCRIPT)
        world.directory(f"{APPLICATIONS}/Quorvane Viewer.app", owner=1000)
        world.program(viewer_script, owner=1000)
        receipt_package(world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
                        files=[STUDIO_BINARY], preRemoveScript=STUDIO_SCRIPT)
        receipt_package(world, "com.quorvane.viewer", "Quorvane Viewer", "QuorvaneViewer.pkg",
                        files=[VIEWER_BINARY], preRemoveScript=viewer_script)

        outcome = sandbox.run(world, "--all")

        self.assertEqual(outcome.calls_of(STUDIO_SCRIPT), [("--silent", "true")])
        self.assertEqual(outcome.calls_of(viewer_script), [])
        self.assertEqual(outcome.log, [
            NO_GALLERY,
            f"Pre-remove script succeeded: {STUDIO_SCRIPT}",
            f"Pre-remove script FAILED: {viewer_script} (not run: the directory "
            f"{APPLICATIONS}/Quorvane Viewer.app is not root's alone)",
        ])
        self.assertEqual(outcome.status, 0)


class SetuidStartTest(sandbox.SandboxTestCase):
    def test_a_root_run_started_by_an_ordinary_user_gives_its_scripts_a_clean_environment(self):
        setuid_copy = "/usr/local/libexec/quorvane-uninstall-setuid"
        seen = "/var/tmp/qu-environment"
        world = World()
        world.file(STUDIO_SCRIPT, f"#!/bin/sh\nenv > {seen}\n", mode=0o755)
        receipt_package(world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
                        files=[STUDIO_BINARY], preRemoveScript=STUDIO_SCRIPT)
        world.copy(setuid_copy, sandbox.binary(), mode=0o4755)

        removal, environment = sandbox.run_all(world, [
            Run(command=(setuid_copy, "--id", "com.quorvane.studio"), user="nobody",
                environment={"PATH": "/Users/Shared/evil:/usr/bin:/bin", "QU_CALLER": "planted",
                             "LANG": "de_DE.UTF-8", "LC_TIME": "C"}),
            Run(command=("/bin/cat", seen))])

        self.assertEqual(removal.status, 0, removal.stderr)
        variables = dict(line.split("=", 1) for line in environment.stdout.splitlines())
        variables.pop("PWD", None)  # the shell's own
        variables.pop("SHLVL", None)
        variables.pop("_", None)
        self.assertEqual(variables, {"PATH": "/usr/bin:/bin:/usr/sbin:/sbin", "HOME": "/root",
                                     "LANG": "de_DE.UTF-8", "LC_TIME": "C"})

    def test_the_callers_file_size_limit_does_not_reach_the_programs_run_as_root(self):
        # The caller's "ulimit -S -f 0": every write to a file fails (the
        # log on standard error, here a file, among them) and a program that
        # does not ignore SIGXFSZ dies at its first. Raising a hard limit back
        # needs a right this sandbox's root lacks, so the caller here keeps
        # the hard one.
        setuid_copy = "/usr/local/libexec/quorvane-uninstall-setuid"
        world = World()
        studio = receipt_package(world, "com.quorvane.studio", "Quorvane Studio",
                                 "QuorvaneStudio.pkg", files=[STUDIO_BINARY])
        world.copy(setuid_copy, sandbox.binary(), mode=0o4755)

        removal, = sandbox.run_all(world, [
            Run(command=(setuid_copy, "--id", "com.quorvane.studio"), user="nobody",
                file_size_limit=(0, None))])

        self.assertEqual((removal.status, removal.log), (0, [NO_GALLERY]), removal.stderr)
        self.assertIn(f"/{STUDIO_BINARY}", removal.diff.removed)
        self.assertIn(studio, removal.diff.removed)


# --- Only what is the package's own: planted links, shared files, system
# directories, and an install location without a trailing "/".

USER = 1000  # an ordinary user of the machine, who owns the application bundle
STUDIO_APP_DIR = "/Applications/Quorvane Studio.app"
OTHER_RESOURCES = "/Applications/Other Vendor.app/Contents/Resources"
CORE_FRAMEWORK = "Library/Frameworks/QuorvaneCore.framework"
CORE_BINARY = f"{CORE_FRAMEWORK}/QuorvaneCore"
CORE_HELPER = "Library/PrivilegedHelperTools/com.quorvane.core.helper"
CORE_DAEMON = "Library/LaunchDaemons/com.quorvane.core.plist"
CORE_SUPPORT = "/Library/Application Support/Quorvane Core"
ROOT_ONLY = "/Library/Preferences/com.vendor.secrets.plist"
PLANTED_PREFERENCES = "/Users/Shared/Quorvane/core.plist"
PLANTED_FOLDER = "/Users/Shared/Quorvane/Preferences"


def planted_and_shared():
    world = World()
    # Installed to "/Applications" (no trailing "/"); its bundle belongs to the
    # user, who replaced the Resources folder by a link to another program's.
    world.uninstall_plist("com.quorvane.studio.plist", {
        "pkgid": "com.quorvane.studio", "displayName": "Quorvane Studio", "visible": True})
    studio_files = ["Quorvane Studio.app/Contents/MacOS/Quorvane Studio",
                    "Quorvane Studio.app/Contents/Resources/studio.dat"]
    studio_dirs = ["Quorvane Studio.app", "Quorvane Studio.app/Contents",
                   "Quorvane Studio.app/Contents/MacOS", "Quorvane Studio.app/Contents/Resources"]
    world.receipt("QuorvaneStudio.pkg", "com.quorvane.studio", default_location="/Applications",
                  files=studio_files, dirs=studio_dirs)
    world.installed("/Applications", files=studio_files[:1], dirs=studio_dirs[:3], owner=USER)
    world.installed(OTHER_RESOURCES, files=["studio.dat", "other.dat"])
    world.symlink(f"{STUDIO_APP_DIR}/Contents/Resources", OTHER_RESOURCES, owner=USER)

    # A framework that the database package "viewer" lists too, and the
    # system directories the core package leaves empty or names itself.
    core_files = [CORE_BINARY, f"{CORE_FRAMEWORK}/Resources/Info.plist", CORE_HELPER, CORE_DAEMON]
    core_dirs = ["Library", "Library/Frameworks", CORE_FRAMEWORK, f"{CORE_FRAMEWORK}/Resources",
                 "Library/PrivilegedHelperTools", "Library/LaunchDaemons"]
    receipt_package(world, "com.quorvane.core", "Quorvane Core", "QuorvaneCore.pkg",
                    files=core_files, dirs=core_dirs,
                    additionalfiles=["/Library/Application Support", CORE_SUPPORT],
                    plistremove={PLANTED_PREFERENCES: ["Secret"],
                                 f"{PLANTED_FOLDER}/com.vendor.secrets.plist": ["Secret"]})
    world.installed(CORE_SUPPORT, files=["cache.db"])
    world.uninstall_plist("com.quorvane.viewer.plist", {
        "pkgid": "com.quorvane.viewer", "displayName": "Quorvane Viewer", "visible": True})
    world.database_package("com.quorvane.viewer", files=[CORE_BINARY], dirs=[CORE_FRAMEWORK])

    # A root-only property list, and a user's links to it in a shared folder.
    world.file(ROOT_ONLY, plist_bytes({"Secret": "s3cr3t", "Other": 1}), mode=0o600)
    world.directory("/Users/Shared", mode=0o1777)
    world.directory("/Users/Shared/Quorvane", owner=USER)
    world.symlink(PLANTED_PREFERENCES, ROOT_ONLY, owner=USER)
    world.symlink(PLANTED_FOLDER, "/Library/Preferences", owner=USER)
    return world


class PackageOwnPathsTest(sandbox.SandboxTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.world = planted_and_shared()
        selection = ("--id", "com.quorvane.studio", "--id", "com.quorvane.core")
        cls.dry_run, cls.removal = sandbox.run_all(cls.world, [
            Run(arguments=("--dry-run",) + selection), Run(arguments=selection)])

    def test_removes_the_packages_own_files_and_nothing_through_a_planted_link(self):
        under = self.world.paths_under
        expected = (
            {f"{STUDIO_APP_DIR}/Contents/MacOS/Quorvane Studio", f"{STUDIO_APP_DIR}/Contents/MacOS",
             f"{STUDIO_APP_DIR}/Contents/Resources", f"{STUDIO_APP_DIR}/Contents", STUDIO_APP_DIR,
             f"/{CORE_FRAMEWORK}/Resources/Info.plist", f"/{CORE_FRAMEWORK}/Resources",
             f"/{CORE_HELPER}", f"/{CORE_DAEMON}"}
            | under(CORE_SUPPORT)
            | under(f"{RECEIPTS}/QuorvaneStudio.pkg") | under(f"{RECEIPTS}/QuorvaneCore.pkg"))
        self.assertEqual(sorted(self.removal.diff.removed), sorted(expected))
        self.assertEqual(self.removal.diff.changed, [])
        self.assertEqual(self.removal.diff.added, [])
        self.assertEqual(self.removal.status, 0)

    def test_says_why_each_path_stayed(self):
        framework_binary = f"/./{CORE_BINARY}"
        self.assertEqual(self.removal.log, [
            NO_GALLERY,
            "Keeping '/Library/Application Support': a directory of the system",
            f"Keeping '{framework_binary}': package com.quorvane.viewer still lists it",
            f"Keeping '/./{CORE_FRAMEWORK}': package com.quorvane.viewer still lists it",
            f"Not editing '{PLANTED_FOLDER}/com.vendor.secrets.plist': read {PLANTED_FOLDER}/"
            f"com.vendor.secrets.plist: the symbolic link {PLANTED_FOLDER} on its way is not "
            "the system's own",
            f"Not editing '{PLANTED_PREFERENCES}': read {PLANTED_PREFERENCES}: a symbolic link",
            f"Leaving '/Applications/./Quorvane Studio.app/Contents/Resources/studio.dat': the "
            f"symbolic link '{STUDIO_APP_DIR}/Contents/Resources' on its way is not the "
            "system's own",
        ])

    def test_the_dry_run_shows_the_same_plan(self):
        shown = [line for line in self.dry_run.stdout.splitlines() if line.startswith("Would ")]
        deleted = {line[len("Would delete: "):] for line in shown
                   if line.startswith("Would delete: ")}
        kept = [line[len("Would keep: "):] for line in shown if line.startswith("Would keep: ")]
        self.assertEqual({os.path.normpath(path) for path in deleted},
                         {path for path in self.removal.diff.removed
                          if not any(path.startswith(gone + "/") for gone in
                                     (CORE_SUPPORT, f"{RECEIPTS}/QuorvaneStudio.pkg",
                                      f"{RECEIPTS}/QuorvaneCore.pkg"))})
        self.assertEqual(kept, [
            "/Library/Application Support",
            f"/./{CORE_BINARY}",
            f"/./{CORE_FRAMEWORK}",
            "/./Library/PrivilegedHelperTools",
            "/./Library/LaunchDaemons",
            "/./Library/Frameworks",
            "/Applications/./Quorvane Studio.app/Contents/Resources/studio.dat",
        ])
        self.assertEqual(self.dry_run.log, self.removal.log)
        self.assertEqual(self.dry_run.diff.removed, [])


# --- Gallery records are a user's words: a collection under an installed
# package's identifier shapes no removal, and a package described twice is
# one record.

ALPHA_FILES = ["Applications/Quorvane Alpha.app/Contents/MacOS/Quorvane Alpha", CORE_BINARY]
BETA_FILES = ["Applications/Quorvane Beta.app/Contents/MacOS/Quorvane Beta", CORE_BINARY]
GALLERY_TOOL = f"{SUPPORT}/Gallery 3/GallerySetup"


def shadowed_beta():
    world = World()
    receipt_package(world, "com.quorvane.alpha", "Quorvane Alpha", "QuorvaneAlpha.pkg",
                    files=ALPHA_FILES)
    receipt_package(world, "com.quorvane.beta", "Quorvane Beta", "QuorvaneBeta.pkg",
                    files=BETA_FILES)
    world.program(GALLERY_TOOL)
    world.directory("/Users/Shared", mode=0o1777)
    record = world.collection("/Users/Shared/Quorvane/beta", "Beta Lookalike")
    world.gallery_preferences({"com.quorvane.beta": {**record, "AppPath": GALLERY_TOOL}})
    return world


class UserCollectionTest(sandbox.SandboxTestCase):
    def test_a_collection_under_a_packages_identifier_shapes_no_removal(self):
        world = shadowed_beta()
        left_out = ("Not offering gallery collection 'com.quorvane.beta' (Beta Lookalike): "
                    "installed package 'com.quorvane.beta' (Quorvane Beta) has that identifier")

        alpha = sandbox.run(world, "--id", "com.quorvane.alpha")
        beta = sandbox.run(world, "--id", "com.quorvane.beta", "--json")

        # Beta stays, so the framework both list stays with it.
        self.assertEqual(alpha.log, [
            left_out, f"Keeping '/./{CORE_BINARY}': package com.quorvane.beta still lists it"])
        self.assertEqual(sorted(alpha.diff.removed), sorted(
            {"/Applications/Quorvane Alpha.app/Contents/MacOS/Quorvane Alpha"}
            | world.paths_under(f"{RECEIPTS}/QuorvaneAlpha.pkg")))
        self.assertEqual(alpha.status, 0)
        # Beta itself is what --id beta removes: its files and its record go.
        self.assertEqual(beta.log, [
            left_out, f"Keeping '/./{CORE_BINARY}': package com.quorvane.alpha still lists it"])
        self.assertEqual(beta.calls_of(GALLERY_TOOL), [])
        self.assertEqual(sorted(beta.diff.removed), sorted(
            {"/Applications/Quorvane Beta.app/Contents/MacOS/Quorvane Beta"}
            | world.paths_under(f"{RECEIPTS}/QuorvaneBeta.pkg")))
        self.assertIn('"kind":"receipt"', beta.stdout.replace(" ", ""))
        self.assertEqual(beta.status, 0)

    def test_a_package_described_twice_is_removed_completely(self):
        world = World()
        receipt_package(world, "com.quorvane.alpha", "Quorvane Alpha", "QuorvaneAlpha.pkg",
                        files=ALPHA_FILES[:1])
        receipt_package(world, "com.quorvane.beta", "Quorvane Beta", "QuorvaneBeta.pkg",
                        files=BETA_FILES)
        # A second description of beta, as a child of alpha.
        world.uninstall_plist("alpha/beta-again.plist", {
            "pkgid": "com.quorvane.beta", "displayName": "Quorvane Beta", "visible": True,
            "parent": "com.quorvane.alpha"})

        outcome = sandbox.run(world, "--id", "com.quorvane.beta")

        self.assertEqual(sorted(outcome.diff.removed), sorted(
            {"/Applications/Quorvane Beta.app/Contents/MacOS/Quorvane Beta", f"/{CORE_BINARY}"}
            | world.paths_under(f"{RECEIPTS}/QuorvaneBeta.pkg")))
        self.assertEqual(outcome.status, 0)


class HomeFoldersTest(sandbox.SandboxTestCase):
    def test_a_homes_standard_folders_stay_with_every_other_programs_files(self):
        alice_support = "/Users/alice/Library/Application Support"
        shared_preferences = "/Users/Shared/Library/Preferences"
        own = f"{alice_support}/Quorvane Studio"
        world = World()
        world.directory("/Users/Shared", mode=0o1777)
        world.installed("/Users/alice/Library", files=[
            "Application Support/Other Vendor/state.db", "Application Support/Quorvane Studio/x"],
            owner=USER)
        world.file(f"{shared_preferences}/com.vendor.other.plist", plist_bytes({"A": 1}))
        receipt_package(world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
                        files=[STUDIO_BINARY],
                        additionalfiles=[f"{alice_support}/", shared_preferences,
                                         "/users/alice/library", own])

        outcome = sandbox.run(world, "--id", "com.quorvane.studio")

        self.assertEqual(sorted(outcome.diff.removed), sorted(
            {f"/{STUDIO_BINARY}"} | world.paths_under(own)
            | world.paths_under(f"{RECEIPTS}/QuorvaneStudio.pkg")))
        self.assertEqual(outcome.log, [
            NO_GALLERY,
            f"Keeping '{alice_support}/': a directory of the system",
            f"Keeping '{shared_preferences}': a directory of the system",
            "Keeping '/users/alice/library': a directory of the system",
        ])
        self.assertEqual(outcome.status, 0)


class RemovedLinkTest(sandbox.SandboxTestCase):
    def test_a_path_below_a_removed_link_is_not_deleted_in_its_old_target(self):
        studio_support = f"{SUPPORT}/Studio"
        other = "/Library/Application Support/Other Vendor"
        world = World()
        world.installed(other, files=["cache/a", "cache/b"])
        world.directory(studio_support)
        world.symlink(f"{studio_support}/Current", other)
        receipt_package(world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
                        files=[STUDIO_BINARY],
                        additionalfiles=[f"{studio_support}/Current/cache/a",
                                         f"{studio_support}/Current",
                                         f"{studio_support}/Current/cache/b"])

        outcome = sandbox.run(world, "--id", "com.quorvane.studio")

        self.assertEqual(sorted(outcome.diff.removed), sorted(
            {f"/{STUDIO_BINARY}", f"{other}/cache/a", f"{studio_support}/Current"}
            | world.paths_under(f"{RECEIPTS}/QuorvaneStudio.pkg")))
        self.assertEqual(outcome.status, 0)


class OtherUsersFoldersTest(sandbox.SandboxTestCase):
    def test_a_third_users_folder_moved_in_by_its_containers_owner_stays(self):
        cache = "/Users/Shared/Quorvane Cache"
        third = f"{cache}/moved/third"
        world = World()
        world.directory("/Users/Shared", mode=0o1777)
        world.directory(cache, owner=USER)
        world.file(f"{cache}/index.db")  # root's, the package's own
        world.directory(f"{cache}/moved", owner=USER)
        world.file(f"{cache}/moved/user.dat", owner=USER)
        world.directory(third, owner=USER + 1)
        world.file(f"{third}/thesis.tex", owner=USER + 1)
        receipt_package(world, "com.quorvane.studio", "Quorvane Studio", "QuorvaneStudio.pkg",
                        files=[STUDIO_BINARY], additionalfiles=[cache])

        outcome = sandbox.run(world, "--id", "com.quorvane.studio")

        self.assertEqual(sorted(outcome.diff.removed), sorted(
            {f"/{STUDIO_BINARY}", f"{cache}/index.db", f"{cache}/moved/user.dat"}
            | world.paths_under(f"{RECEIPTS}/QuorvaneStudio.pkg")))
        self.assertEqual(outcome.log, [
            NO_GALLERY, f"Leaving '{third}': it belongs to user {USER + 1}"])
        self.assertEqual(outcome.status, 0)
