"""The sandbox keeps every effect away from the host, and its fake system
tools answer the command lines the uninstaller uses."""

import os
import plistlib
import re
import subprocess
import tempfile

import sandbox
from sandbox import Call, Ending, Run
from world import World

APP = "/Applications/Quorvane Viewer.app/Contents/MacOS/Quorvane Viewer"
BOM = "/Library/Receipts/Viewer.pkg/Contents/Archive.bom"


class ContainmentTest(sandbox.SandboxTestCase):
    needs_binary = False

    def test_effects_inside_never_reach_the_host(self):
        with tempfile.TemporaryDirectory(prefix="qu-host-") as host:
            victim = os.path.join(host, "keep-me")
            with open(victim, "w") as handle:
                handle.write("host data\n")
            planted = os.path.join(host, "planted")
            bystander = subprocess.Popen(["sleep", "60"])
            world = World()
            world.running("/usr/local/bin/idle")
            try:
                outcome, = sandbox.run_all(world, [Run(command=(
                    "/bin/sh", "-c",
                    f"rm -f '{victim}' && echo sandbox > '{planted}' && kill -9 -1"))],
                    with_binary=False)
                self.assertIsNone(bystander.poll(), "a host process was killed")
            finally:
                bystander.kill()
                bystander.wait()

            self.assertEqual(outcome.status, 0, outcome.stderr)
            self.assertEqual(outcome.background, {"/usr/local/bin/idle": Ending(signal=9)})
            self.assertEqual(outcome.diff.removed, [victim])
            self.assertEqual(outcome.diff.added, [planted])
            with open(victim) as handle:
                self.assertEqual(handle.read(), "host data\n")
            self.assertFalse(os.path.exists(planted))


class FakeToolsTest(sandbox.SandboxTestCase):
    needs_binary = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        world = World()
        world.database_package("com.quorvane.viewer", version="3.1", volume="/",
                               install_location="Applications",
                               files=["Quorvane Viewer.app/Contents/MacOS/Quorvane Viewer"],
                               dirs=["Quorvane Viewer.app", "Quorvane Viewer.app/Contents"])
        world.receipt("Viewer.pkg", "com.quorvane.viewer", files=["Applications/V.app/V"],
                      dirs=["Applications/V.app"])
        world.running(APP)
        world.failing("/Library/LaunchDaemons/com.quorvane.broken.plist")
        cls.commands = {
            "info": ("/usr/sbin/pkgutil", "--pkg-info-plist", "com.quorvane.viewer"),
            "info of unknown": ("/usr/sbin/pkgutil", "--pkg-info-plist", "com.quorvane.none"),
            "files": ("/usr/sbin/pkgutil", "", "--files", "com.quorvane.viewer"),
            "files, plain": ("/usr/sbin/pkgutil", "--files", "com.quorvane.viewer"),
            "dirs": ("/usr/sbin/pkgutil", "--only-dirs", "--files", "com.quorvane.viewer"),
            "unexpected": ("/usr/sbin/pkgutil", "--pkgs"),
            "bom files": ("/usr/bin/lsbom", "-fls", BOM),
            "bom dirs": ("/usr/bin/lsbom", "-ds", BOM),
            "bom every path": ("/usr/bin/lsbom", "-s", BOM),
            "missing bom": ("/usr/bin/lsbom", "-fls", "/Library/Receipts/None.pkg/x.bom"),
            "ps": ("/bin/ps", "-Ao", "pid=,comm="),
            "unload": ("/bin/launchctl", "unload", "/Library/LaunchDaemons/com.quorvane.ok.plist"),
            "failing unload": ("/bin/launchctl", "unload",
                               "/Library/LaunchDaemons/com.quorvane.broken.plist"),
            "kext": ("/sbin/kextunload", "/Library/Extensions/Q.kext"),
            "forget": ("/usr/sbin/pkgutil", "--forget", "com.quorvane.viewer"),
            "info after forget": ("/usr/sbin/pkgutil", "--pkg-info-plist", "com.quorvane.viewer"),
        }
        outcomes = sandbox.run_all(world, [Run(command=c) for c in cls.commands.values()],
                                   with_binary=False)
        cls.outcomes = dict(zip(cls.commands, outcomes))

    def test_each_call_is_recorded_with_its_exact_arguments(self):
        tools = {"/usr/sbin/pkgutil": "pkgutil", "/usr/bin/lsbom": "lsbom", "/bin/ps": "ps",
                 "/bin/launchctl": "launchctl", "/sbin/kextunload": "kextunload"}
        for name, command in self.commands.items():
            with self.subTest(name):
                self.assertEqual(self.outcomes[name].calls, [Call(tools[command[0]], command[1:])])

    def test_answers(self):
        cases = [
            ("files", 0, "Quorvane Viewer.app/Contents/MacOS/Quorvane Viewer\n"),
            ("files, plain", 0, "Quorvane Viewer.app/Contents/MacOS/Quorvane Viewer\n"
                                "Quorvane Viewer.app\nQuorvane Viewer.app/Contents\n"),
            ("dirs", 0, "Quorvane Viewer.app\nQuorvane Viewer.app/Contents\n"),
            ("info of unknown", 1, ""),
            ("unexpected", 2, ""),
            ("bom files", 0, "./Applications/V.app/V\n"),
            ("bom dirs", 0, ".\n./Applications/V.app\n"),
            ("bom every path", 0, ".\n./Applications/V.app\n./Applications/V.app/V\n"),
            ("missing bom", 1, ""),
            ("unload", 0, ""),
            ("failing unload", 1, ""),
            ("kext", 0, ""),
            ("info after forget", 1, ""),
        ]
        for name, status, stdout in cases:
            with self.subTest(name):
                outcome = self.outcomes[name]
                self.assertEqual((outcome.status, outcome.stdout), (status, stdout))
                self.assertTrue(outcome.diff.empty)

    def test_package_information_is_a_property_list(self):
        outcome = self.outcomes["info"]
        self.assertEqual(plistlib.loads(outcome.stdout_bytes), {
            "pkgid": "com.quorvane.viewer", "pkg-version": "3.1", "volume": "/",
            "install-location": "Applications"})

    def test_forget_deletes_the_record(self):
        outcome = self.outcomes["forget"]
        self.assertEqual(outcome.status, 0)
        self.assertEqual(outcome.diff.removed, ["/var/db/qu-fake-pkgdb/com.quorvane.viewer.json"])

    def test_process_list_shows_sandbox_programs_by_full_path(self):
        outcome = self.outcomes["ps"]
        lines = outcome.stdout.splitlines()
        self.assertTrue(all(re.fullmatch(r" *\d{1,5} /.*", line) for line in lines), lines)
        self.assertIn(APP, [line[6:] for line in lines])
        # Only the namespace's own few processes: the sandbox's init, the
        # background program and the listing itself.
        self.assertEqual(len(lines), 3, lines)
        self.assertEqual(outcome.background, {APP: Ending(running=True)})
