"""--dry-run on the production binary inside the sandbox: an unprivileged
user sees a whole removal without anything changing, and a real removal of
the same world, as root, does exactly what the dry run showed."""

import json
import os
import re
import signal

import sandbox
from differential import plan_effects, stream_effects
from sandbox import Ending, Run
from world import PACKAGE_DATABASE, World, receipt_package

SUPPORT = "/Library/Application Support/Quorvane Technologies"
STUDIO_APP = "/Applications/Quorvane Studio.app"
STUDIO_PROGRAM = f"{STUDIO_APP}/Contents/MacOS/Quorvane Studio"
STUDIO_SUPPORT = "/Library/Application Support/Quorvane Studio"
STUDIO_SCRIPT = f"{SUPPORT}/Scripts/studio preremove"
STUDIO_CACHE = "/Library/Caches/com.quorvane.studio"
DAEMON = f"{SUPPORT}/Drivers/quorvaned"
SERVICES = ["/Library/LaunchDaemons/com.quorvane.drivers.plist",
            "/Library/LaunchAgents/com.quorvane.drivers agent.plist"]
KEXT = "/Library/Extensions/QuorvaneUSB.kext"
PREFERENCES = "/Library/Preferences/com.quorvane.shared.plist"
GALLERY_TOOL = f"{SUPPORT}/Gallery/Gallery Setup"
COLLECTION_ID = "{5A1E5-TOUR}"
NAMES = ["Studio Tour", "Quorvane Device Drivers", "Quorvane Studio", "USB Driver"]

SYSTEM_TOOLS = {"pkgutil": "/usr/sbin/pkgutil", "launchctl": "/bin/launchctl",
                "kextunload": "/sbin/kextunload", "lsbom": "/usr/bin/lsbom", "ps": "/bin/ps"}
PROCESS_LISTING = Run(command=("/bin/ps", "-Ao", "pid=,comm="))


def full_world():
    """A gallery collection; a receipt package with a running application,
    a pre-remove script, extra files, property-list edits and directories
    that are emptied, nested, hold only Finder metadata, or hold a file of
    the user's; a package-database package with a daemon and two services,
    and its child with a kernel extension."""
    world = World()
    world.program(GALLERY_TOOL, stdout=["Uninstalling:   [50%] Removing files\n",
                                        "Uninstalling:   [100%] Done\n"])
    record = world.collection(f"{SUPPORT}/Gallery/Tour", "Studio Tour")
    world.gallery_preferences({COLLECTION_ID: {**record, "AppPath": GALLERY_TOOL}})

    studio_files = [STUDIO_PROGRAM, f"{STUDIO_APP}/Contents/Info.plist",
                    f"{STUDIO_SUPPORT}/settings.conf", f"{STUDIO_SUPPORT}/Presets/default.preset"]
    studio_dirs = ["/Applications", STUDIO_APP, f"{STUDIO_APP}/Contents",
                   f"{STUDIO_APP}/Contents/MacOS", STUDIO_SUPPORT, f"{STUDIO_SUPPORT}/Presets",
                   f"{STUDIO_SUPPORT}/Cache", f"{STUDIO_SUPPORT}/Cache/Thumbnails",
                   f"{STUDIO_SUPPORT}/Cache/Thumbnails/Large", f"{STUDIO_SUPPORT}/Browser"]
    world.installed("/", files=studio_files, dirs=studio_dirs)
    world.file(f"{STUDIO_SUPPORT}/Presets/my own.preset", "the user's\n")
    world.file(f"{STUDIO_SUPPORT}/Browser/.DS_Store", b"\0\0\0\1Bud1")
    world.file(f"{STUDIO_CACHE}/thumbs.db", "cache\n")
    world.file("/Library/Logs/Quorvane Studio.log", "log\n")
    world.plist(PREFERENCES, {"Studio": {"LastRun": 1}, "Products": {"Studio": "4.2"},
                              "Viewer": {"LastRun": 2}})
    world.program(STUDIO_SCRIPT)
    world.uninstall_plist("com.quorvane.studio.plist", {
        "pkgid": "com.quorvane.studio", "displayName": "Quorvane Studio", "visible": True,
        "preRemoveScript": STUDIO_SCRIPT,
        "additionalfiles": [STUDIO_CACHE, "/Library/Logs/Quorvane Studio.log"],
        "plistremove": {PREFERENCES: ["Studio", "Products:Studio"],
                        "/Library/Preferences/com.quorvane.absent.plist": ["Studio"]}})
    world.receipt("QuorvaneStudio.pkg", "com.quorvane.studio", version="4.2",
                  files=[path[1:] for path in studio_files], dirs=[path[1:] for path in studio_dirs])

    driver_files = [DAEMON[1:], SERVICES[0][1:]]
    world.installed("/", files=driver_files, dirs=[f"{SUPPORT}/Drivers"[1:]])
    world.uninstall_plist("com.quorvane.drivers.plist", {
        "pkgid": "com.quorvane.drivers", "displayName": "Quorvane Device Drivers",
        "visible": True, "services": SERVICES})
    world.database_package("com.quorvane.drivers", files=driver_files,
                           dirs=[f"{SUPPORT}/Drivers"[1:]])

    kext_files = [f"{KEXT}/Contents/Info.plist"[1:], f"{KEXT}/Contents/MacOS/QuorvaneUSB"[1:]]
    kext_dirs = [KEXT[1:], f"{KEXT}/Contents"[1:], f"{KEXT}/Contents/MacOS"[1:]]
    world.installed("/", files=kext_files, dirs=kext_dirs)
    world.uninstall_plist("com.quorvane.drivers.usb.plist", {
        "pkgid": "com.quorvane.drivers.usb", "displayName": "USB Driver", "visible": True,
        "parent": "com.quorvane.drivers"})
    world.database_package("com.quorvane.drivers.usb", files=kext_files, dirs=kext_dirs)

    world.running_as("nobody", STUDIO_PROGRAM)
    world.running_as("nobody", DAEMON)
    return world, world.launchers


def command_words(text):
    """Splits a shown command line back into its words: a word is as it is,
    or in double quotes with a backslash before each inner quote or backslash."""
    words, at = [], 0
    while at < len(text):
        if text[at] == '"':
            word, at = "", at + 1
            while text[at] != '"':
                if text[at] == "\\":
                    at += 1
                word += text[at]
                at += 1
            at += 1
        else:
            end = text.find(" ", at)
            end = len(text) if end < 0 else end
            word, at = text[at:end], end
        words.append(word)
        at += 1  # the blank between words
    return words


def shown(outcome, verb):
    """The rest of each "Would <verb>: " line, in order."""
    prefix = f"Would {verb}: "
    return [line[len(prefix):] for line in outcome.stdout.splitlines() if line.startswith(prefix)]


def is_query(call):
    return (call.tool in ("lsbom", "ps")
            or (call.tool == "pkgutil" and ("--files" in call.argv
                                            or call.argv[:1] == ("--pkg-info-plist",))))


def command_of(call):
    """The argument vector of a recorded call, program first."""
    return [SYSTEM_TOOLS.get(call.tool, call.tool), *call.argv]


def process_ids(listing):
    """Program path to process id, from a process listing."""
    ids = {}
    for line in listing.stdout.splitlines():
        pid, path = line.strip().split(" ", 1)
        ids[path] = int(pid)
    return ids


def normal(path):
    """The plain form of a path as a manifest spells it ("/./a", "//a")."""
    return os.path.normpath("/" + path.lstrip("/"))


def outermost(paths):
    """The paths that lie below none of the others."""
    paths = set(paths)
    return {path for path in paths
            if not any(path.startswith(other + "/") for other in paths if other != path)}


class DryRunTest(sandbox.SandboxTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        world, cls.launchers = full_world()
        cls.listing, cls.dry, cls.dry_as_root, cls.plan = sandbox.run_all(world, [
            PROCESS_LISTING, Run(("--dry-run", "--all"), user="nobody"), Run(("-n", "--all")),
            Run(("--dry-run", "--json", "--all"), user="nobody")])
        # The real removal, in a fresh copy of the same world, and once more
        # for management tools.
        world, _ = full_world()
        cls.real_listing, cls.real = sandbox.run_all(world, [PROCESS_LISTING, Run(("--all",))])
        world, _ = full_world()
        cls.stream, = sandbox.run_all(world, [Run(("--json", "--all"))])

    def test_an_unprivileged_dry_run_changes_nothing(self):
        outcome = self.dry
        self.assertEqual(outcome.status, 0, outcome.stderr)
        self.assertTrue(outcome.diff.empty, outcome.diff)
        self.assertEqual([call for call in outcome.calls if not is_query(call)], [])
        self.assertTrue(outcome.calls, "the manifests are read as in a real run")
        self.assertEqual(set(outcome.background.values()), {Ending(running=True)})
        self.assertEqual(outcome.diagnostics, [])

    def test_output_is_the_announcement_then_one_line_per_effect(self):
        lines = self.dry.stdout.splitlines()
        self.assertEqual(lines[:len(NAMES) + 1], ["Removing:", *NAMES])
        effects = lines[len(NAMES) + 1:]
        self.assertTrue(effects)
        for line in effects:
            self.assertRegex(line, r"^Would (run|quit|kill|delete|keep|remove key): ")
        # The log holds what the queries produce, and no outcome of a program
        # that did not run, nor a claim of the quit request it only shows.
        self.assertEqual(self.dry.log, [])

    def test_root_sees_the_same_dry_run(self):
        self.assertEqual(self.dry_as_root.stdout, self.dry.stdout)
        self.assertEqual(self.dry_as_root.status, 0)
        self.assertTrue(self.dry_as_root.diff.empty, self.dry_as_root.diff)

    def test_shows_each_kind_of_effect(self):
        ids = process_ids(self.listing)
        self.assertEqual(shown(self.dry, "quit"),
                         [f'"Quorvane Studio" "{STUDIO_APP}" {ids[STUDIO_PROGRAM]}'])
        self.assertEqual(shown(self.dry, "kill"), [f"{ids[DAEMON]} {DAEMON}"])
        self.assertEqual(shown(self.dry, "remove key"),
                         [f"Studio from {PREFERENCES}", f"Products:Studio from {PREFERENCES}"])
        self.assertEqual(shown(self.dry, "keep"), [f"/.{STUDIO_SUPPORT}/Presets",
                                                   f"/.{STUDIO_SUPPORT}"])
        self.assertEqual(shown(self.dry, "run")[:2], [
            f'"{GALLERY_TOOL}" --verbose --uninstall --keepconfigs --guid {COLLECTION_ID}',
            f"/bin/launchctl unload {SERVICES[0]}"])
        self.assertIn(f"/.{STUDIO_SUPPORT}/Cache/Thumbnails/Large", shown(self.dry, "delete"))
        self.assertIn(f"/.{STUDIO_SUPPORT}/Browser", shown(self.dry, "delete"))

    def test_the_real_removal_does_what_was_shown(self):
        real = self.real
        self.assertEqual(real.status, 0, real.stderr)

        # Programs: the same command lines. Only the forget requests, which
        # are not waited for, may be recorded later than they were started.
        ran = [command_of(call) for call in real.calls if not is_query(call)]
        shown_runs = [command_words(line) for line in shown(self.dry, "run")]
        self.assertEqual(sorted(ran), sorted(shown_runs))
        waited = [command for command in ran if command[1:2] != ["--forget"]]
        self.assertEqual(waited, [c for c in shown_runs if c[1:2] != ["--forget"]])

        # Deletions: every path shown is gone, and nothing else is (the fake
        # package database's records go with the forget requests).
        deleted = {normal(path) for path in shown(self.dry, "delete")}
        removed = [path for path in real.diff.removed if not path.startswith(PACKAGE_DATABASE)]
        self.assertEqual(deleted - set(removed), set())
        self.assertEqual(outermost(removed), outermost(deleted))
        self.assertEqual(real.diff.added, [])
        self.assertEqual(real.diff.changed, [PREFERENCES])
        for path in shown(self.dry, "keep"):
            self.assertNotIn(normal(path), removed)

        # Processes: the one asked to quit got the quit request, the one shown
        # as killed the signal, and nothing else was touched.
        self.assertEqual(process_ids(self.real_listing), process_ids(self.listing))
        endings = {self.launchers[launcher]: ending
                   for launcher, ending in real.background.items()}
        self.assertEqual(endings, {STUDIO_PROGRAM: Ending(signal=signal.SIGTERM),
                                   DAEMON: Ending(signal=signal.SIGKILL)})
        quit_bundle = command_words(shown(self.dry, "quit")[0])[1]
        self.assertTrue(STUDIO_PROGRAM.startswith(quit_bundle + "/Contents/MacOS/"))
        self.assertEqual([line.split(" ", 1)[1] for line in shown(self.dry, "kill")], [DAEMON])


    def test_the_json_plan_holds_the_same_items_and_effects(self):
        plan = json.loads(self.plan.stdout)
        self.assertEqual((plan["version"], plan["type"], plan["succeeded"]), (1, "plan", True))
        self.assertEqual(self.plan.status, self.dry.status)
        lines = ["Removing:"] + [item["name"] or item["identifier"] for item in plan["items"]]
        for item in plan["items"]:
            lines += [line for line in map(would, item["effects"]) if line]
        self.assertEqual(lines, self.dry.stdout.splitlines())
        kept = [e for item in plan["items"] for e in item["effects"] if e["effect"] == "keep"]
        self.assertEqual({e["reason"] for e in kept}, {"not empty"})

    def test_the_json_stream_reports_what_the_text_removal_printed(self):
        events = [json.loads(line) for line in self.stream.stdout.splitlines()]
        self.assertEqual({event["version"] for event in events}, {1})
        self.assertEqual(events[0]["type"], "removing")
        self.assertEqual([i["name"] for i in events[0]["items"]], NAMES)
        # Progress: the same lines, as events.
        text = [line for line in self.real.stdout.splitlines() if line.startswith("Uninstalling:")]
        progress = [(f"Uninstalling: [{e['percent']}%]{e['text']}" if "text" in e else
                     f"Uninstalling:\t[{e['percent']}%] {e['path']}")
                    for e in events if e["type"] == "progress"]
        self.assertEqual(progress, text)
        # Programs: one event for each outcome the log shows, and the forget requests.
        outcomes = {(e["role"], e["subject"], e["outcome"]) for e in events
                    if e.get("effect") == "run"}
        self.assertIn(("pre-remove script", STUDIO_SCRIPT, "succeeded"), outcomes)
        self.assertIn(("service", SERVICES[0], "succeeded"), outcomes)
        self.assertIn(("kernel extension", f"/{KEXT}", "succeeded"), outcomes)
        self.assertIn(("gallery setup", GALLERY_TOOL, "succeeded"), outcomes)
        self.assertTrue(any(role == "forget" and outcome == "started"
                            for role, _, outcome in outcomes))
        summary = events[-1]
        self.assertEqual((summary["type"], summary["succeeded"], summary["failed"]),
                         ("summary", True, []))
        self.assertEqual(len(summary["removed"]), len(NAMES))
        self.assertEqual(sorted(k["path"] for k in summary["kept"]),
                         sorted(shown(self.dry, "keep")))
        self.assertEqual(self.stream.status, self.real.status)
        self.assertEqual(self.stream.diff.removed, self.real.diff.removed)
        # Every effect the plan shows, in its order, with what became of it.
        self.assertEqual(stream_effects(self.stream.stdout), plan_effects(self.plan.stdout))
        self.assertEqual({e["outcome"] for e in events if "outcome" in e},
                         {"succeeded", "started", "sent", "removed"})
        # Statuses are numbers; a path comes with its normalised form.
        for event in events:
            if event.get("effect") == "run" and event["outcome"] != "started":
                self.assertEqual(event["status"] == 0, event["outcome"] == "succeeded", event)
            if "path" in event:
                self.assertEqual(event["normalised"], normal(event["path"]), event)


class JsonAnswerTest(sandbox.SandboxTestCase):
    def test_every_json_request_gets_json_with_nothing_installed_or_an_unknown_id_or_option(self):
        # "--jso" is "--json" abbreviated.
        plan, stream, unknown, usage = sandbox.run_all(World(), [
            Run(("--dry-run", "--json", "--all")), Run(("--jso", "--all")),
            Run(("--json", "--id", "nothing")), Run(("--json", "--no-such-option"))])
        self.assertEqual((plan.status, json.loads(plan.stdout)),
                         (0, {"version": 1, "type": "plan", "items": [], "succeeded": True}))
        self.assertEqual((stream.status, [json.loads(line) for line in stream.stdout.splitlines()]),
                         (0, [{"version": 1, "type": "summary", "succeeded": True, "removed": [],
                               "failed": [], "kept": []}]))
        self.assertEqual((usage.status, json.loads(usage.stdout)),
                         (0, {"version": 1, "type": "refusal", "message": "Usage", "status": 0}))
        self.assertEqual((unknown.status, json.loads(unknown.stdout)),
                         (1, {"version": 1, "type": "refusal",
                              "message": "Invalid ID Specified: nothing.", "status": 1}))
        self.assertEqual(unknown.diagnostics, ["Invalid ID Specified: nothing."])


def would(effect):
    """The dry run's text line for one effect of the JSON plan, if it has one."""
    kind = effect["effect"]
    if kind.startswith("not ") or (kind == "keep" and effect["reason"] == "unsafe path"):
        return None
    if kind == "run":
        return "Would run: " + " ".join(map(quoted, [effect["program"], *effect["arguments"]]))
    if kind == "quit":
        return f"Would quit: {quoted(effect['name'])} {quoted(effect['path'])} {effect['pid']}"
    if kind == "kill":
        return f"Would kill: {effect['group']} {effect['program']}"
    if kind == "remove key":
        return f"Would remove key: {effect['key']} from {effect['file']}"
    return f"Would {kind}: {effect['path']}"


def quoted(word):
    if word and not re.search(r'[\s"\\]', word):
        return word
    return '"' + re.sub(r'(["\\])', r"\\\1", word) + '"'


class DryRunFailureTest(sandbox.SandboxTestCase):
    def test_reports_the_status_of_a_removal_that_would_fail(self):
        world = World()
        record = world.collection(f"{SUPPORT}/Gallery/Tour", "Studio Tour")
        missing = f"{SUPPORT}/Gallery/Missing Setup"
        world.gallery_preferences({COLLECTION_ID: {**record, "AppPath": missing}})

        outcome = sandbox.run(world, "--dry-run", "--id", COLLECTION_ID, user="nobody")

        self.assertEqual(outcome.status, 3)
        self.assertEqual(outcome.stdout, "Removing:\nStudio Tour\n")
        self.assertIn(f"Cannot find Gallery Setup executable at: '{missing}'", outcome.log)
        self.assertTrue(outcome.diff.empty, outcome.diff)


class DryRunDecidesAsTheRealRunTest(sandbox.SandboxTestCase):
    def test_a_script_an_earlier_package_deletes_is_not_shown_as_run(self):
        # "Alpha" comes first and deletes the folder that holds Beta's script.
        world = World()
        scripts = f"{SUPPORT}/Beta Scripts"
        world.program(f"{scripts}/preremove")
        receipt_package(world, "com.quorvane.alpha", "Alpha", "Alpha.pkg",
                        additionalfiles=[scripts])
        receipt_package(world, "com.quorvane.beta", "Beta", "Beta.pkg",
                        preRemoveScript=f"{scripts}/preremove")
        dry, real = sandbox.run_all(world, [Run(("--dry-run", "--all")), Run(("--all",))])

        self.assertNotIn(f"{scripts}/preremove", "".join(shown(dry, "run")))
        self.assertEqual(real.calls_of(f"{scripts}/preremove"), [])
        self.assertEqual(dry.log, real.log)
        self.assertIn(f"Pre-remove script FAILED: {scripts}/preremove "
                      "(could not be started: No such file or directory)", real.log)

    def test_trees_the_real_run_leaves_and_folders_it_empties_through_a_link(self):
        # Extra files: a tree holding a mount, a tree nesting too deep. The
        # package's files lie below the system's "/private/qu"; its folder is
        # named through "/Library/QU", root's own link there.
        world = World()
        mounted, deep = "/Library/Caches/com.quorvane.mounted", "/Library/Logs/Quorvane Deep"
        world.file(f"{mounted}/mnt/inside.txt", "on another mount\n")
        world.file(f"{mounted}/cache.db", "cache\n")
        world.directory("/private/qu/data")
        world.symlink("/Library/QU", "/private/qu")
        receipt_package(world, "com.quorvane.studio", "Quorvane Studio", "Studio.pkg",
                        files=["private/qu/data/file", "private/qu/data/helperd"],
                        dirs=["Library/QU/data"], additionalfiles=[mounted, deep])
        # Listed as the package's helper, but another program runs in that process.
        other = world.running("/Library/Other/helperd", shown_as="/private/qu/data/helperd")
        nested = deep + "/d" * 260
        prepare = Run(command=("/bin/sh", "-c", f'mkdir -p "{nested}" && '
                               f'mount --bind "{mounted}/mnt" "{mounted}/mnt"'))
        dry, plan, stream = sandbox.run_all(world, [
            prepare, Run(("--dry-run", "--id", "com.quorvane.studio")),
            Run(("--dry-run", "--json", "--id", "com.quorvane.studio")),
            Run(("--json", "--id", "com.quorvane.studio"))])[1:]

        self.assertEqual(stream_effects(stream.stdout), plan_effects(plan.stdout))
        self.assertNotIn("Would kill", dry.stdout)
        self.assertEqual(stream.background[other], Ending(running=True))
        self.assertIn("not killed", {effect["effect"] for _, effect in plan_effects(plan.stdout)})
        kept = {effect["normalised"]: effect["reason"]
                for _, effect in plan_effects(plan.stdout) if effect["effect"] == "keep"}
        self.assertEqual(kept, {mounted: "another file system", deep: "too deep"})
        self.assertEqual(json.loads(stream.stdout.splitlines()[-1])["kept"],
                         [{"path": mounted, "normalised": mounted, "reason": "another file system"},
                          {"path": deep, "normalised": deep, "reason": "too deep"}])
        self.assertIn("/private/qu/data", stream.diff.removed)
