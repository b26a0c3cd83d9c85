"""The guided run of scripts/demo.sh, step for step: what its summary says
must be what the sandbox's files and programs show, and its text must stay
short enough to read."""

import json
import signal
import unittest

import demo
import sandbox
from sandbox import Ending
from test_dry_run import would
from world import (CORE_FRAMEWORK, OTHER_TEMPLATES, PLANTING_USER, SHARED_PREFERENCES,
                   SHARED_TEMPLATES, STUDIO_AGENT, STUDIO_PROGRAM)

DRIVERS = "com.quorvane.drivers"
# Two screens of a terminal 45 lines high.
MOST_LINES = 90


class DemoTest(sandbox.SandboxTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.demo = demo.run_demo(check_plan=True)
        cls.lines, cls.summary = demo.report(cls.demo)

    def test_the_summary_is_what_the_sandbox_shows(self):
        summary = self.summary
        before = demo.file_tree(self.demo.tree_before)
        after = demo.file_tree(self.demo.tree_after)
        self.assertEqual(summary.unexpected, [])
        self.assertEqual(sorted(summary.removed), sorted(set(before) - set(after)))
        self.assertEqual(self.demo.removal.diff.added, [])
        self.assertEqual(before[SHARED_TEMPLATES].kind, "l")
        self.assertNotIn(SHARED_TEMPLATES, after)
        self.assertEqual(summary.removed_kinds["l"], 1)

        self.assertEqual([(kept.reason, kept.detail, kept.there) for kept in summary.kept], [
            ("shared", DRIVERS, f"{CORE_FRAMEWORK}/QuorvaneCore"),
            ("link refused", SHARED_TEMPLATES, f"{OTHER_TEMPLATES}/Poster.qst"),
            ("shared", DRIVERS, CORE_FRAMEWORK),
            ("system directory", "", "/Library/Frameworks"),
            ("system directory", "", "/Library/LaunchAgents"),
        ])
        for kept in summary.kept:
            self.assertIn(kept.there, after)
        self.assertEqual(summary.kept[1].link.owner, PLANTING_USER)
        self.assertEqual(after[f"{OTHER_TEMPLATES}/Poster.qst"],
                         before[f"{OTHER_TEMPLATES}/Poster.qst"])

        self.assertEqual(summary.edits, {SHARED_PREFERENCES: ["Products:Studio"]})
        self.assertEqual(summary.processes, {STUDIO_PROGRAM: Ending(signal=signal.SIGTERM),
                                             STUDIO_AGENT: Ending(signal=signal.SIGKILL)})
        self.assertEqual(summary.status, 0)

    def test_the_real_removal_logs_why_it_kept_what_the_plan_keeps(self):
        # System directories stay without a word; the rest with one line each.
        expected = []
        for kept in self.summary.kept:
            path = "/." + kept.path
            if kept.reason == "shared":
                expected.append(f"Keeping '{path}': package {kept.detail} still lists it")
            elif kept.reason == "link refused":
                expected.append(f"Leaving '{path}': the symbolic link '{kept.detail}' on its "
                                "way is not the system's own")
        kept_lines = [line for line in self.demo.removal.log
                      if line.startswith(("Keeping '", "Leaving '"))]
        self.assertEqual(kept_lines, expected)

    def test_the_ordinary_user_sees_the_plan_root_would_carry_out(self):
        plan = json.loads(self.demo.plan.stdout)
        shown = [line for item in plan["items"] for line in map(would, item["effects"]) if line]
        dry_run = self.demo.dry_run.stdout.splitlines()
        self.assertEqual(dry_run[dry_run.index("Studio Support") + 1:], shown)
        self.assertIn("Would kill: ", self.demo.dry_run.stdout)
        self.assertTrue(self.summary.dry_run_changed_nothing)
        self.assertEqual(self.demo.dry_run.status, self.demo.removal.status)

    def test_lists_the_suite_before_and_only_the_drivers_after(self):
        rows = [[line.split()[0] for line in outcome.stdout.splitlines()[2:]]
                for outcome in (self.demo.listing, self.demo.listing_after)]
        self.assertEqual(rows, [[DRIVERS, "com.quorvane.studio", "-com.quorvane.studio.plugins"],
                                [DRIVERS]])
        self.assertEqual(self.demo.listing_after.log, [])

    def test_the_text_is_short_and_keeps_the_ends_of_every_run(self):
        self.assertLessEqual(len(self.lines), MOST_LINES)
        for outcome in (self.demo.dry_run, self.demo.removal):
            output = outcome.stdout.splitlines()
            self.assertIn(output[0], self.lines)
            self.assertIn(output[-1], self.lines)
        progress = [line for line in self.demo.removal.stdout.splitlines()
                    if line.startswith("Uninstalling:")]
        self.assertIn(f"    [... {len(progress) - 2} more Uninstalling lines ...]", self.lines)
        self.assertFalse([line for line in self.lines if "UNEXPECTED" in line or "NOT SO" in line])


class ElisionTest(unittest.TestCase):
    def test_cuts_long_runs_of_alike_lines_only(self):
        def deletes(*names):
            return [f"Would delete: /{name}" for name in names]

        cases = {
            "short runs stay": (deletes("a", "b", "c") + ["Would keep: /d"],
                                deletes("a", "b", "c") + ["Would keep: /d"]),
            "a long run keeps its ends": (
                ["Removing:"] + deletes(*"abcdef") + ["Would keep: /g"],
                ["Removing:"] + deletes("a") + ["    [... 4 more Would delete lines ...]"]
                + deletes("f") + ["Would keep: /g"]),
            "lines without a colon never make a run": (
                ["Quorvane Studio"] * 5, ["Quorvane Studio"] * 5),
            "another kind ends a run": (
                deletes(*"abcd") + ["Would keep: /e"] + deletes(*"fg"),
                deletes("a") + ["    [... 2 more Would delete lines ...]"] + deletes("d")
                + ["Would keep: /e"] + deletes(*"fg")),
        }
        for name, (lines, expected) in cases.items():
            with self.subTest(name):
                self.assertEqual(demo.elided(lines), expected)
