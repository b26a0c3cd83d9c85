"""Gallery collections with the production binary inside the sandbox: which
registered collections are offered, and their removal through the gallery
setup tool, whose progress is fitted into the run's."""

import sandbox
from sandbox import Call, Run
from test_listing import HEADER, NO_GALLERY, assert_same_listing, parse_listing, row, run_listings
from test_removal import announcement, progress, receipt_package
from world import GALLERY_PREFERENCES, RECEIPTS, World

CONTENT = "/Users/Shared/Library/Application Support/Quorvane Technologies/Gallery/Content"
SETUP_3 = "/Library/Application Support/Quorvane Technologies/Gallery 3/GallerySetup"
SETUP_2 = "/Library/Application Support/Quorvane Technologies/Gallery 2/GallerySetup"
SUPPORT_ROOT = "/Library/Application Support/Quorvane Technologies"

TEMPLATES = "5B2E7A90-1C44-4F0B-A3D2-7E61C09F8B13"
BRUSHES = "0D9C4E1F-6A27-4B8E-9F35-C1D2E3F4A5B6"
REMOTE = "7F3A9C21-88D4-4E1B-B0A7-2C5D6E7F8091"
INCOMPLETE = "E4F5A6B7-C8D9-4E0F-8A1B-2C3D4E5F6A7B"

STUDIO_BINARY = "Applications/Quorvane Studio.app/Contents/MacOS/Quorvane Studio"


def studio(world):
    return receipt_package(world, "com.quorvane.studio", "Quorvane Studio",
                           "QuorvaneStudio.pkg", files=[STUDIO_BINARY])


def installed_collection(world, identifier, title, setup=None, **details):
    """A collection laid out under the content directory; its record names
    `setup` as the gallery setup tool, when given."""
    record = world.collection(f"{CONTENT}/{identifier}", title, **details)
    if setup is not None:
        record["AppPath"] = setup
    return record


def registered_collections(world):
    world.gallery_preferences({
        TEMPLATES: installed_collection(world, TEMPLATES, "Alpha Templates", SETUP_3,
                                        versions=("2021-11-02", "2023-04-19", "2022-08-30")),
        # Registered here, installed on another machine: its files being here
        # changes nothing.
        REMOTE: {**installed_collection(world, REMOTE, "Remote Fonts", SETUP_3),
                 "Remote": True},
        # Without its uninstall information a collection cannot be removed.
        INCOMPLETE: installed_collection(world, INCOMPLETE, "Old Clip Art", SETUP_3,
                                         uninstall_info=False),
    })


def shared_identifier(world):
    receipt_package(world, "com.quorvane.templates", "Quorvane Templates",
                    "QuorvaneTemplates.pkg")
    world.gallery_preferences({
        "com.quorvane.templates": installed_collection(world, "templates", "Team Templates",
                                                       SETUP_3)})


class GalleryListingTest(sandbox.SandboxTestCase):
    def test_only_removable_collections_are_listed_after_the_packages(self):
        # (world, listing lines after the header, the last item's kind and
        #  version in the JSON listing, log lines)
        cases = {
            "installed, remote and incomplete collections": (
                registered_collections,
                row("com.quorvane.studio", "Quorvane Studio") + row(TEMPLATES, "Alpha Templates"),
                # The latest of its version dates, as written in the manifest.
                ("gallery", "2023-04-19"), []),
            # Anyone may write the preferences: a collection never takes the
            # place of an installed package.
            "a collection with a package's identifier is left out": (
                shared_identifier,
                row("com.quorvane.studio", "Quorvane Studio")
                + row("com.quorvane.templates", "Quorvane Templates"),
                ("receipt", "1.0"),
                ["Not offering gallery collection 'com.quorvane.templates' (Team Templates): "
                 "installed package 'com.quorvane.templates' (Quorvane Templates) has that "
                 "identifier"]),
        }
        for name, (build, listing, kind_and_version, log) in cases.items():
            with self.subTest(name):
                world = World()
                studio(world)
                build(world)

                outcome, as_json = run_listings(world)

                self.assertEqual(outcome.stdout, HEADER + listing)
                self.assertEqual((outcome.status, outcome.log), (0, log))
                self.assertTrue(outcome.diff.empty, outcome.diff)
                assert_same_listing(self, outcome, as_json)
                collection = parse_listing(as_json)["items"][-1]
                self.assertEqual((collection["kind"], collection["version"]), kind_and_version)


def tool_call(identifier):
    return ("--verbose", "--uninstall", "--keepconfigs", "--guid", identifier)


STUDIO_REMOVED = {f"/{STUDIO_BINARY}", f"{RECEIPTS}/QuorvaneStudio.pkg",
                  f"{RECEIPTS}/QuorvaneStudio.pkg/Contents",
                  f"{RECEIPTS}/QuorvaneStudio.pkg/Contents/Info.plist",
                  f"{RECEIPTS}/QuorvaneStudio.pkg/Contents/Archive.bom"}


class GalleryRemovalTest(sandbox.SandboxTestCase):
    def test_collections_go_first_and_the_tools_progress_is_rescaled(self):
        world = World()
        studio(world)
        world.program(SETUP_3, stdout=[
            "Gallery Setup 3.0.2\n",
            "Uninst", "alling: [", "0%] Starting\n",
            "   Uninstalling: [10%] indented, so not progress\n",
            "Uninstalling:[20%] no blank after the colon, so not progress\n",
            "\n",
            "Uninstalling:\t[50%] Removing files\n",
            "Uninstalling: [75%] Removing 100% of «Vorlagen»\n",
            "Uninstalling:   [100", "%] Done",
        ], stderr="GallerySetup: keeping the team's configuration\n")
        world.program(SETUP_2, stdout=["Uninstalling: [0%] Preparing\n", "Uninstalling: [7%]"])
        world.gallery_preferences({
            BRUSHES: installed_collection(world, BRUSHES, "beta Brushes", SETUP_2),
            TEMPLATES: installed_collection(world, TEMPLATES, "Alpha Templates", SETUP_3),
        })

        outcome = sandbox.run(world, "--all")

        # Three items: each collection's 0 to 100 becomes a third of the run
        # (added to the whole thirds already done), and the package, last,
        # climbs from 66 to 99.
        self.assertEqual(outcome.stdout, "".join([
            announcement("Alpha Templates", "beta Brushes", "Quorvane Studio"),
            "Uninstalling: [0%] Starting\n",
            "Uninstalling: [16%] Removing files\n",
            "Uninstalling: [25%] Removing 100% of «Vorlagen»\n",
            "Uninstalling: [33%] Done\n",
            "Uninstalling: [33%] Preparing\n",
            "Uninstalling: [35%]\n",
            progress(82, f"/./{STUDIO_BINARY}"),
            progress(99, "/."),
        ]))
        self.assertEqual(outcome.status, 0)
        self.assertEqual(outcome.calls[:2], [Call(SETUP_3, tool_call(TEMPLATES)),
                                             Call(SETUP_2, tool_call(BRUSHES))])
        self.assertEqual([call.tool for call in outcome.calls[2:]], ["ps", "lsbom", "lsbom"])
        self.assertEqual(outcome.diagnostics, ["GallerySetup: keeping the team's configuration"])
        self.assertEqual(outcome.log, [])
        # The tools remove the collections; the uninstaller itself deletes
        # only the package.
        self.assertEqual(set(outcome.diff.removed), STUDIO_REMOVED)

    def test_a_collection_without_its_tool_fails_the_run_but_not_the_other_items(self):
        missing = "/Library/Application Support/Quorvane Technologies/Gallery 1/GallerySetup"
        world = World()
        studio(world)
        world.gallery_preferences({
            TEMPLATES: installed_collection(world, TEMPLATES, "Alpha Templates", missing),
            BRUSHES: installed_collection(world, BRUSHES, "beta Brushes"),
        })

        outcome = sandbox.run(world, "--all")

        # The failed collections add nothing to the run's percentage.
        self.assertEqual(outcome.stdout, "".join([
            announcement("Alpha Templates", "beta Brushes", "Quorvane Studio"),
            progress(16, f"/./{STUDIO_BINARY}"),
            progress(33, "/."),
        ]))
        self.assertEqual(outcome.log, [
            f"Cannot find Gallery Setup executable at: '{missing}'",
            "Cannot find Gallery Setup executable at: '(null)'",
        ])
        self.assertEqual(outcome.status, 3)
        self.assertEqual([call.tool for call in outcome.calls], ["ps", "lsbom", "lsbom"])
        self.assertEqual(set(outcome.diff.removed), STUDIO_REMOVED)


# --- What an ordinary user could have planted in the shared gallery files.

USER = 1000
PLANTED_SETUP = "/Users/Shared/Quorvane/GallerySetup"
USERS_GALLERY = "/Library/Application Support/Quorvane Technologies/Gallery 9"
OTHER_VENDOR_TOOL = "/Applications/Other Vendor.app/Contents/MacOS/uninstall"
FORGED = "5A1E5000-0000-4000-8000-000000000001"
FONTS = "9C1D2E3F-4A5B-4C6D-8E7F-0A1B2C3D4E5F"
CLIPS = "1B2C3D4E-5F60-4718-9A2B-3C4D5E6F7A8B"


class PlantedGalleryFilesTest(sandbox.SandboxTestCase):
    def test_a_tool_any_user_could_have_replaced_is_not_run_and_names_cannot_forge_output(self):
        world = World()
        studio(world)
        world.program(SETUP_3)
        world.directory("/Users/Shared", mode=0o1777)
        world.directory("/Users/Shared/Quorvane", owner=USER)
        world.program(PLANTED_SETUP, owner=USER)
        # Root's own, but another vendor's: not the gallery's tool.
        world.program(OTHER_VENDOR_TOOL)
        # In the maker's folder, but in a folder a user owns.
        world.directory(USERS_GALLERY, owner=USER)
        world.program(f"{USERS_GALLERY}/GallerySetup", owner=USER)
        world.gallery_preferences({
            TEMPLATES: installed_collection(world, TEMPLATES, "Alpha Templates", SETUP_3),
            BRUSHES: installed_collection(world, BRUSHES, "beta Brushes", PLANTED_SETUP),
            FONTS: installed_collection(world, FONTS, "delta Fonts", OTHER_VENDOR_TOOL),
            CLIPS: installed_collection(world, CLIPS, "epsilon Clips",
                                        f"{SUPPORT_ROOT}/../../../{OTHER_VENDOR_TOOL}"),
            INCOMPLETE: installed_collection(world, INCOMPLETE, "zeta Art",
                                             f"{USERS_GALLERY}/GallerySetup"),
            FORGED: installed_collection(
                world, FORGED, "Gamma\ncom.forged.row Forged\u2028\x85", SETUP_3),
        })

        listing, removal = sandbox.run_all(world, [Run(arguments=("--list",)),
                                                   Run(arguments=("--id", BRUSHES,
                                                                  "--id", FORGED,
                                                                  "--id", FONTS,
                                                                  "--id", CLIPS,
                                                                  "--id", INCOMPLETE))])

        escaped = "Gamma\\x0Acom.forged.row Forged\\u2028\\u0085"
        self.assertEqual(listing.stdout, HEADER + row("com.quorvane.studio", "Quorvane Studio")
                         + row(BRUSHES, "beta Brushes") + row(CLIPS, "epsilon Clips")
                         + row(FORGED, escaped) + row(TEMPLATES, "Alpha Templates")
                         + row(FONTS, "delta Fonts") + row(INCOMPLETE, "zeta Art"))
        self.assertTrue(removal.stdout.startswith(announcement(
            "beta Brushes", "delta Fonts", "epsilon Clips", escaped, "zeta Art")))
        not_inside = "': it is not inside the maker's folders"
        self.assertEqual(removal.log, [
            f"Refusing to run Gallery Setup executable at: '{PLANTED_SETUP}{not_inside}",
            f"Refusing to run Gallery Setup executable at: '{OTHER_VENDOR_TOOL}{not_inside}",
            f"Refusing to run Gallery Setup executable at: "
            f"'{SUPPORT_ROOT}/../../../{OTHER_VENDOR_TOOL}{not_inside}",
            f"Refusing to run Gallery Setup executable at: '{USERS_GALLERY}/GallerySetup': "
            f"the directory {USERS_GALLERY} is not root's alone"])
        self.assertEqual(removal.calls_of(SETUP_3), [tool_call(FORGED)])
        for tool in (PLANTED_SETUP, OTHER_VENDOR_TOOL, f"{USERS_GALLERY}/GallerySetup"):
            self.assertEqual(removal.calls_of(tool), [])
        self.assertEqual(removal.status, 3)

    def test_pipes_and_endless_files_end_the_run_at_once(self):
        # (what replaces which file, the log lines of `--list`, the listing after the package)
        prefs = GALLERY_PREFERENCES
        metadata = f"{CONTENT}/{TEMPLATES}/metadata.xml"
        manifest = f"{CONTENT}/{TEMPLATES}/imsmanifest.xml"
        listed = row(TEMPLATES, "Alpha Templates")
        cases = {
            "preferences as a named pipe": (
                lambda w: w.fifo(prefs),
                [f"Not reading '{prefs}': not a regular file", NO_GALLERY], ""),
            "preferences as a user's link to /dev/zero": (
                lambda w: w.symlink(prefs, "/dev/zero", owner=USER),
                [f"Not reading '{prefs}': a symbolic link that is not the system's own",
                 NO_GALLERY], ""),
            "preferences as root's link to /dev/zero": (
                lambda w: w.symlink(prefs, "/dev/zero"),
                [f"Not reading '{prefs}': not a regular file", NO_GALLERY], ""),
            "metadata as a named pipe": (
                lambda w: w.fifo(metadata),
                [f"Not reading '{metadata}': not a regular file"], ""),
            "manifest as a named pipe": (
                lambda w: w.fifo(manifest),
                [f"Not reading '{manifest}': not a regular file"], listed),
        }
        for name, (plant, log, listing) in cases.items():
            with self.subTest(name):
                world = World()
                studio(world)
                world.gallery_preferences({
                    TEMPLATES: installed_collection(world, TEMPLATES, "Alpha Templates",
                                                    SETUP_3)})
                plant(world)

                outcome = sandbox.run_all(world, [Run(arguments=("--list",), timeout=20)])[0]

                self.assertFalse(outcome.timed_out)
                self.assertEqual(outcome.log, log)
                self.assertEqual(outcome.stdout,
                                 HEADER + row("com.quorvane.studio", "Quorvane Studio") + listing)
