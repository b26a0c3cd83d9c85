"""Runs that meet an unusual start or crafted input: a reader of standard
output that goes away, a caller that left signals ignored, and property lists
built to take all memory or time."""

import re
import signal
import struct

import sandbox
from sandbox import Run
from world import GALLERY_PREFERENCES, PACKAGE_DATABASE, RECEIPTS, World

NO_GALLERY = f"Could not load Gallery Plist: {GALLERY_PREFERENCES}"
ALPHA = "com.quorvane.alpha"
BETA = "com.quorvane.beta"
SCRIPT = "/Library/Application Support/Quorvane Technologies/Scripts/alpha-preremove"
SIGNALS_SEEN = "/var/tmp/alpha-preremove-signals"
ANNOUNCEMENT = "Removing:\nAlpha Tools\nBeta Suite\n"
PROGRESS_LINE = re.compile(r"Uninstalling:\t\[\d+%\] /[^\n]*\n")
FORGOT_ALPHA = f"Forgot package '{ALPHA}' on '/'.\n"
MiB = 1024 * 1024


def lost(reason):
    return f"Standard output lost ({reason}): nothing more is printed; the run goes on"


def two_packages(files_each, **beta_settings):
    """Alpha Tools, known to the package database, with a pre-remove script
    that records the signal dispositions it was started with, and Beta Suite,
    recorded by a receipt bundle; `files_each` files apiece in a folder of
    their own. Answers the world and what removing Alpha and Beta deletes."""
    world = World()
    world.file(SCRIPT, "#!/bin/sh\n"
               f"exec /bin/grep -E '^Sig(Blk|Ign)' /proc/self/status > {SIGNALS_SEEN}\n",
               mode=0o755)
    removed = {}
    for identifier, name in ((ALPHA, "Alpha Tools"), (BETA, "Beta Suite")):
        folder = f"opt/{name}"
        files = [f"{folder}/file{number:03}.dat" for number in range(files_each)]
        settings = {"pkgid": identifier, "displayName": name, "visible": True}
        if identifier == ALPHA:
            world.uninstall_plist(f"{identifier}.plist", {**settings, "preRemoveScript": SCRIPT})
            record = world.database_package(identifier, files=files, dirs=[folder])
            removed[identifier] = {record}
        else:
            world.uninstall_plist(f"{identifier}.plist", {**settings, **beta_settings},
                                  binary=True)
            bundle = world.receipt("BetaSuite.pkg", identifier, version="1.0", files=files,
                                   dirs=[folder])
            removed[identifier] = world.paths_under(bundle)
        world.installed("/", files=files, dirs=[folder])
        removed[identifier] |= world.paths_under(f"/{folder}")
    return world, removed


def key_chain(depth):
    """A binary property list of a dictionary whose one key names an array
    holding the next array twice, `depth` arrays deep: a few dozen bytes that
    unfold into 2^depth objects if the key is read before it is refused."""
    objects = [bytes([0xD1, 2, 1]), b"\x09"]  # {key: object 2, value: true}
    objects += [bytes([0xA2, number + 1, number + 1]) for number in range(2, depth + 2)]
    objects.append(b"\xA0")
    data, offsets = b"bplist00", []
    for encoded in objects:
        offsets.append(len(data))
        data += encoded
    table = len(data)
    return (data + bytes(offsets) + bytes(6) + b"\x01\x01"
            + struct.pack(">QQQ", len(objects), 0, table))


def named_often(times, length):
    """A binary property list of a dictionary whose one value is an array
    naming one string of `length` bytes `times` times: the library copies the
    string each time it is named."""
    objects = [bytes([0xD1, 0, 1, 0, 2]), b"\x51k",
               b"\xAF\x11" + struct.pack(">H", times) + struct.pack(">H", 3) * times,
               b"\x5F\x12" + struct.pack(">I", length) + b"s" * length]
    data, offsets = b"bplist00", b""
    for encoded in objects:
        offsets += struct.pack(">I", len(data))
        data += encoded
    table = len(data)
    return (data + offsets + bytes(6) + b"\x04\x02"
            + struct.pack(">QQQ", len(objects), 0, table))


class LostOutputTest(sandbox.SandboxTestCase):
    def test_the_removal_goes_on_to_its_end_when_standard_output_is_lost(self):
        # (how the output is lost, the most bytes it can show, the reason logged)
        cases = {
            "the reader goes away": (Run(("--all",), read_stdout=1000), 1000, "Broken pipe"),
            "the output file reaches its size limit": (
                Run(("--all",), file_size_limit=4096), 4096, "File too large"),
        }
        for name, (run, most, reason) in cases.items():
            with self.subTest(name):
                world, removed = two_packages(150)

                [outcome] = sandbox.run_all(world, [run])

                self.assertEqual(outcome.status, 0)
                self.assertEqual(outcome.log, [NO_GALLERY, f"Pre-remove script succeeded: {SCRIPT}",
                                               lost(reason)])
                self.assertEqual(sorted(outcome.diff.removed),
                                 sorted(removed[ALPHA] | removed[BETA]))
                self.assertIn(("--forget", ALPHA), outcome.calls_of("pkgutil"))
                self.assertLessEqual(len(outcome.stdout_bytes), most)
                self.assertTrue(outcome.stdout.startswith(ANNOUNCEMENT), outcome.stdout)
                whole_lines = outcome.stdout[len(ANNOUNCEMENT):].splitlines(keepends=True)[:-1]
                self.assertTrue(whole_lines)
                for line in whole_lines:
                    self.assertRegex(line, PROGRESS_LINE)


    def test_with_json_the_programs_output_still_goes_to_standard_error(self):
        world, removed = two_packages(150)

        [outcome] = sandbox.run_all(world, [Run(("--json", "--all"), read_stdout=1000)])

        self.assertEqual(outcome.status, 0)
        self.assertEqual(outcome.log, [NO_GALLERY, f"Pre-remove script succeeded: {SCRIPT}",
                                       lost("Broken pipe")])
        self.assertEqual(sorted(outcome.diff.removed), sorted(removed[ALPHA] | removed[BETA]))
        # The forget request's line, which a JSON run hands to standard error.
        self.assertIn(FORGOT_ALPHA.strip(), outcome.diagnostics)


class IgnoredSignalsTest(sandbox.SandboxTestCase):
    def test_queries_scripts_and_removal_work_when_started_with_signals_ignored(self):
        world, removed = two_packages(3)
        # As nohup and a shell's background job leave them, and SIGCHLD too.
        ignored = (signal.SIGCHLD, signal.SIGINT, signal.SIGQUIT, signal.SIGHUP)

        outcome, seen = sandbox.run_all(world, [
            Run(("--id", ALPHA), ignored=ignored),
            Run(command=("/bin/cat", SIGNALS_SEEN)),
        ])

        self.assertEqual(outcome.status, 0)
        self.assertEqual(outcome.log, [NO_GALLERY, f"Pre-remove script succeeded: {SCRIPT}"])
        self.assertEqual(sorted(outcome.diff.removed), sorted(removed[ALPHA]))
        # The forget request's own line comes whole, between ours.
        lines = outcome.stdout.splitlines(keepends=True)
        self.assertEqual(lines.count(FORGOT_ALPHA), 1, outcome.stdout)
        lines.remove(FORGOT_ALPHA)
        self.assertEqual(lines[:2], ["Removing:\n", "Alpha Tools\n"])
        self.assertEqual(len(lines), 6)
        for line in lines[2:]:
            self.assertRegex(line, PROGRESS_LINE)
        # Every signal at its default in the script but the C library's own,
        # which its posix_spawn leaves ignored in every child.
        library_own = sum(1 << (number - 1) for number in range(32, signal.SIGRTMIN))
        self.assertEqual(seen.stdout, f"SigBlk:\t{0:016x}\nSigIgn:\t{library_own:016x}\n")


class CraftedPropertyListsTest(sandbox.SandboxTestCase):
    def test_the_listing_ends_at_once(self):
        # (the world, the memory limit, the most memory the run may take)
        gallery_key_chain = two_packages(1)[0]
        gallery_key_chain.file(GALLERY_PREFERENCES, key_chain(22))
        gallery_named_often = two_packages(1)[0]
        gallery_named_often.file(GALLERY_PREFERENCES, named_often(10000, 64 * 1024))
        hundred_thousand_keys = two_packages(
            1, padding={f"key{number}": number for number in range(100000)})[0]
        cases = {
            "gallery preferences whose key unfolds into 2^22 objects": (
                gallery_key_chain, 512 * MiB, 200 * MiB),
            # 75 KB that would unfold into 640 MiB of copies of one string.
            "gallery preferences naming one 64 KiB string 10,000 times": (
                gallery_named_often, 512 * MiB, 100 * MiB),
            "an uninstall plist holding 100,000 keys": (hundred_thousand_keys, None, 200 * MiB),
        }
        for name, (world, memory_limit, most_memory) in cases.items():
            with self.subTest(name):
                [outcome] = sandbox.run_all(world, [Run(("--list",), memory_limit=memory_limit)])

                self.assertEqual(outcome.status, 0)
                self.assertEqual(outcome.log, [NO_GALLERY])
                self.assertIn("Beta Suite", outcome.stdout)
                # Processor time, which other work on the machine leaves alone;
                # the sanitizers make every step a few times slower.
                self.assertLess(outcome.processor, 3.0 if sandbox.sanitized() else 1.0)
                self.assertLess(outcome.peak_memory, most_memory)
