"""The installation a scenario lays into the sandbox before the uninstaller runs.

A World is a recipe: files, directories, links and background programs, each
with the absolute path it takes inside the sandbox. Nothing is written on the
host; the sandbox applies the recipe inside its own throwaway root.
"""

import base64
import json
import os
import plistlib
import pwd
import urllib.parse
from xml.sax.saxutils import escape

DESCRIPTIONS = "/Library/Application Support/Quorvane Technologies/Uninstall"
RECEIPTS = "/Library/Receipts"
GALLERY_PREFERENCES = "/Users/Shared/Library/Preferences/com.quorvix.gallery.plist"

# Where the fake system tools keep their state (see e2e/fakes).
PACKAGE_DATABASE = "/var/db/qu-fake-pkgdb"
FAILING_ARGUMENTS = "/var/db/qu-fake-fail"
CALL_LOG = "/var/log/qu-fakes.jsonl"
PROGRAMS = "/var/db/qu-fake-programs"
SHOWN_AS = "/var/db/qu-fake-ps-names"

FAKES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fakes")
LOM = "http://ltsc.ieee.org/xsd/LOM"


def plist_bytes(value, binary=False):
    return plistlib.dumps(value, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML)


class World:
    def __init__(self):
        self.entries = []     # applied in order; later entries overwrite earlier ones
        self.background = []  # programs started before the uninstaller runs
        self.launchers = {}   # launcher path -> program, for programs run as another user

    # --- Plain file-system content.

    # `owner`, where given, is the user id that owns the entry (root otherwise),
    # for worlds in which an ordinary user has changed the installation.

    def file(self, path, data=b"", mode=0o644, owner=None):
        if isinstance(data, str):
            data = data.encode()
        self.entries.append({"kind": "file", "path": path, "mode": mode, "owner": owner,
                             "data": base64.b64encode(data).decode()})
        return path

    def directory(self, path, mode=0o755, owner=None):
        self.entries.append({"kind": "dir", "path": path, "mode": mode, "owner": owner})
        return path

    def symlink(self, path, target, owner=None):
        self.entries.append({"kind": "symlink", "path": path, "target": target, "owner": owner})
        return path

    def copy(self, path, source, mode=0o755, owner=None):
        """A copy of `source`, a file of the host's root file system."""
        self.entries.append({"kind": "copy", "path": path, "source": source, "mode": mode,
                             "owner": owner})
        return path

    def fifo(self, path):
        """A named pipe, which blocks whoever opens it to read until a writer comes."""
        self.entries.append({"kind": "fifo", "path": path, "mode": 0o644})
        return path

    def plist(self, path, value, binary=False):
        return self.file(path, plist_bytes(value, binary))

    # --- The uninstaller's sources.

    def uninstall_plist(self, name, settings, binary=False):
        """An uninstall description; `name` is relative to the descriptions directory."""
        return self.plist(f"{DESCRIPTIONS}/{name}", settings, binary)

    def receipt(self, bundle_name, identifier, version=None, default_location="/",
                files=(), dirs=(), binary=False):
        """A legacy receipt bundle in the receipts directory. `files` and `dirs`
        are relative to `default_location`; its bill of materials lists them the
        way the installer records them ("./Applications/X.app", the directory
        list starting with ".")."""
        bundle = f"{RECEIPTS}/{bundle_name}"
        info = {"CFBundleIdentifier": identifier}
        if version is not None:
            info["CFBundleShortVersionString"] = version
        if default_location is not None:
            info["IFPkgFlagDefaultLocation"] = default_location
        self.plist(f"{bundle}/Contents/Info.plist", info, binary)
        bom = {"files": [f"./{path}" for path in files],
               "dirs": ["."] + [f"./{path}" for path in dirs]}
        self.file(f"{bundle}/Contents/Archive.bom", json.dumps(bom, indent=1))
        return bundle

    def database_package(self, identifier, version="1.0", volume="/", install_location="/",
                         files=(), dirs=()):
        """A package the fake package database knows; `files` and `dirs` are
        relative to the install location, as the database reports them."""
        record = {"volume": volume, "install-location": install_location,
                  "pkg-version": version, "files": list(files), "dirs": list(dirs)}
        return self.file(f"{PACKAGE_DATABASE}/{identifier}.json", json.dumps(record, indent=1))

    def installed(self, root, files=(), dirs=(), content=b"installed\n", owner=None):
        """The files and directories a package put on disk below `root`."""
        for path in dirs:
            self.directory(os.path.join(root, path), owner=owner)
        for path in files:
            self.file(os.path.join(root, path), content, owner=owner)

    def failing(self, argument):
        """Makes launchctl and kextunload fail for an argument with this base name."""
        return self.file(f"{FAILING_ARGUMENTS}/{os.path.basename(argument.rstrip('/'))}")

    def running(self, path, source="/bin/sleep", arguments=("1000",), ignoring=(), shown_as=None):
        """A program started (as its own process group) before the uninstaller
        runs: a copy of `source` at `path`, so the process table shows `path`,
        or `shown_as`, as a case-insensitive file system shows a program
        started through another spelling of its path.
        It ignores the signals `ignoring` from its first instruction on."""
        self.copy(path, source)
        if shown_as is not None:
            self.file(f"{SHOWN_AS}/{urllib.parse.quote(path, safe='')}", shown_as)
        self.background.append({"path": path, "arguments": list(arguments),
                                "ignored": [int(number) for number in ignoring]})
        return path

    def running_as(self, user, path):
        """A program at `path` running as `user`. The stand-in process list, like
        Linux, shows another user's executables only to root, whereas the real
        one shows every process to everyone; so that an unprivileged dry run sees
        the programs, they run as that user. A copy of setpriv takes the user's
        identity and then becomes `path` in the same process; the sandbox reports
        the program under the launcher's path, which is returned."""
        account = pwd.getpwnam(user)
        self.copy(path, "/bin/sleep")
        launcher = f"/usr/local/libexec/qu-run-as/{os.path.basename(path)}"
        self.running(launcher, source="/usr/bin/setpriv",
                     arguments=(f"--reuid={account.pw_uid}", f"--regid={account.pw_gid}",
                                "--clear-groups", path, "1000"))
        self.launchers[launcher] = path
        return launcher

    def program(self, path, name=None, stdout=(), stderr="", status=0, owner=None):
        """One of the maker's own programs (a pre-remove script, a gallery setup
        tool) at `path`: it records its call as `name` (its path by default),
        writes the pieces of `stdout` one by one, a moment apart, then `stderr`,
        and exits with `status`."""
        self.copy(path, os.path.join(FAKES, "program"), owner=owner)
        instructions = {"name": name or path, "stdout": list(stdout), "stderr": stderr,
                        "status": status}
        quoted = urllib.parse.quote(path, safe="")
        self.file(f"{PROGRAMS}/{quoted}.json", json.dumps(instructions, indent=1))
        return path

    # --- Gallery collections.

    def collection(self, directory, title, versions=("2022-05-17",), uninstall_info=True):
        """A gallery collection installed in `directory`: its manifest with these
        version dates, its uninstall information (unless told otherwise) and its
        metadata with a French title and then the English `title`. Answers the
        collection's record for the gallery preferences file."""
        manifest = self.file(f"{directory}/imsmanifest.xml", ims_manifest(versions))
        if uninstall_info:
            self.file(f"{directory}/Uninstall/updateinfo.xml", "<updateinfo/>\n")
        metadata = self.file(f"{directory}/metadata.xml", lom_metadata(title))
        return {"ImsManifestXml": manifest, "MetadataXml": metadata}

    def gallery_preferences(self, team_content):
        """The gallery preferences file registering `team_content`, identifier to record."""
        return self.plist(GALLERY_PREFERENCES, {
            "Software": {"Quorvane Technologies": {"Gallery": {"TeamContent": team_content}}}})

    # --- Reading the recipe back.

    def paths_under(self, root):
        """Every path the recipe puts at or below `root`, with the directories
        made on the way to them."""
        found = set()
        for entry in self.entries:
            path = entry["path"]
            while path == root or path.startswith(root + "/"):
                found.add(path)
                path = os.path.dirname(path)
        return found

    def to_json(self):
        return {"entries": self.entries, "background": self.background}


def receipt_package(world, identifier, name, bundle, files=(), dirs=(), version="1.0",
                    **settings):
    """A visible package recorded by the receipt bundle `bundle`, with its
    uninstall plist (plus `settings`) and its files and directories on disk;
    `files` and `dirs` are relative to "/", as the bill of materials has them."""
    world.uninstall_plist(f"{identifier}.plist",
                          {"pkgid": identifier, "displayName": name, "visible": True, **settings})
    world.installed("/", files=files, dirs=dirs)
    return world.receipt(bundle, identifier, version=version, files=files, dirs=dirs)


def ims_manifest(versions):
    """A collection manifest whose metadata carries these version dates."""
    dates = "".join(f"<lom:version><lom:string>{escape(v)}</lom:string></lom:version>"
                    for v in versions)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<manifest xmlns="http://www.imsglobal.org/xsd/imscp_v1p1" xmlns:lom="{LOM}">'
            f"<metadata><lom:lom><lom:lifeCycle>{dates}</lom:lifeCycle></lom:lom></metadata>"
            "<organizations/><resources/></manifest>\n")


def lom_metadata(title):
    """Metadata whose general title is "Contenu d'équipe" in French and `title`
    in American English."""
    strings = ("<lom:string language=\"fr\">Contenu d'équipe</lom:string>"
               f"<lom:string language=\"en-US\">{escape(title)}</lom:string>")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<lom:lom xmlns:lom="{LOM}"><lom:general><lom:title>{strings}</lom:title>'
            "</lom:general></lom:lom>\n")


def sample_world():
    """A small installation: a receipt-recorded suite with a visible plug-in
    package and a hidden support package, a driver package known only to the
    package database, and a stray file among the descriptions."""
    world = World()
    world.uninstall_plist("com.quorvane.studio.plist", {
        "pkgid": "com.quorvane.studio", "displayName": "Quorvane Studio", "visible": True})
    world.receipt("QuorvaneStudio.pkg", "com.quorvane.studio", version="4.2",
                  files=["Applications/Quorvane Studio.app/Contents/MacOS/Quorvane Studio"],
                  dirs=["Applications/Quorvane Studio.app",
                        "Applications/Quorvane Studio.app/Contents",
                        "Applications/Quorvane Studio.app/Contents/MacOS"])
    world.uninstall_plist("com.quorvane.studio.plugins.plist", {
        "pkgid": "com.quorvane.studio.plugins", "displayName": "Studio Plug-ins",
        "visible": True, "parent": "com.quorvane.studio"})
    world.receipt("QuorvaneStudioPlugins.pkg", "com.quorvane.studio.plugins", version="4.2")
    world.uninstall_plist("com.quorvane.studio.support.plist", {
        "pkgid": "com.quorvane.studio.support", "displayName": "Studio Support",
        "parent": "com.quorvane.studio"})
    world.receipt("QuorvaneStudioSupport.pkg", "com.quorvane.studio.support", version="4.2")
    world.uninstall_plist("com.quorvane.drivers.plist", {
        "pkgid": "com.quorvane.drivers", "displayName": "Quorvane Device Drivers",
        "visible": "YES"})
    world.database_package("com.quorvane.drivers", version="2.0.1",
                           files=["Library/Extensions/QuorvaneUSB.kext/Contents/Info.plist"],
                           dirs=["Library/Extensions/QuorvaneUSB.kext",
                                 "Library/Extensions/QuorvaneUSB.kext/Contents"])
    world.file(f"{DESCRIPTIONS}/.DS_Store", b"\0\0\0\1Bud1")
    return world


# --- The installation of scripts/demo.sh: a suite worth removing as root on
# a shared machine.

DEMO_SUITE = "com.quorvane.studio"
DEMO_USER = "nobody"  # an ordinary user: runs the suite's programs and the dry run
PLANTING_USER = 1000  # another local user, who planted a link
STUDIO_APP = "/Applications/Quorvane Studio.app"
STUDIO_PROGRAM = f"{STUDIO_APP}/Contents/MacOS/Quorvane Studio"
STUDIO_SUPPORT = "/Library/Application Support/Quorvane Studio"
STUDIO_AGENT = f"{STUDIO_SUPPORT}/Helper/Studio Agent"
AGENT_SERVICE = "/Library/LaunchAgents/com.quorvane.studio.agent.plist"
CORE_FRAMEWORK = "/Library/Frameworks/QuorvaneCore.framework"
SHARED_TEMPLATES = "/Users/Shared/Quorvane Studio/Templates"
OTHER_TEMPLATES = "/Library/Application Support/Other Vendor/Templates"
SHARED_PREFERENCES = "/Library/Preferences/com.quorvane.shared.plist"
LANGUAGES = ("de", "en", "es", "fr", "it", "ja", "ko", "nl", "pt", "sv", "zh_CN", "zh_TW")


def description(identifier):
    """The uninstall plist of a package. The suite's packages name their own
    among the paths to delete, so that nothing of them is left to list."""
    return f"{DESCRIPTIONS}/{identifier}.plist"


def relative(paths):
    return [path.lstrip("/") for path in paths]


def demo_world():
    """The suite (Quorvane Studio) with its visible plug-in package and its
    hidden helper package, and the driver package that the package database
    alone knows and that stays. The suite's application and the helper's
    background agent run as an ordinary user, the agent under a launchd job;
    the suite edits a property list that the drivers share, shares a framework
    with the drivers, leaves a system directory empty, and installed
    templates into a shared folder where a user has since replaced the
    template folder by a link to another program's templates."""
    world = World()
    world.gallery_preferences({})  # the gallery is installed, with no collection

    lproj = [f"{STUDIO_APP}/Contents/Resources/{language}.lproj" for language in LANGUAGES]
    templates = [f"{SHARED_TEMPLATES}/Poster.qst"]
    studio_files = ([f"{STUDIO_APP}/Contents/Info.plist", STUDIO_PROGRAM]
                    + [f"{directory}/Localizable.strings" for directory in lproj]
                    + [f"{CORE_FRAMEWORK}/QuorvaneCore", f"{CORE_FRAMEWORK}/Resources/Info.plist"]
                    + templates)
    studio_dirs = ([STUDIO_APP, f"{STUDIO_APP}/Contents", f"{STUDIO_APP}/Contents/MacOS",
                    f"{STUDIO_APP}/Contents/Resources"] + lproj
                   + ["/Library/Frameworks", CORE_FRAMEWORK, f"{CORE_FRAMEWORK}/Resources",
                      os.path.dirname(SHARED_TEMPLATES), SHARED_TEMPLATES])
    world.uninstall_plist(f"{DEMO_SUITE}.plist", {
        "pkgid": DEMO_SUITE, "displayName": "Quorvane Studio", "visible": True,
        "additionalfiles": [description(DEMO_SUITE)],
        "plistremove": {SHARED_PREFERENCES: ["Products:Studio"]}})
    world.receipt("QuorvaneStudio.pkg", DEMO_SUITE, version="4.2",
                  files=relative(studio_files), dirs=relative(studio_dirs))
    world.installed("/", files=[path for path in studio_files if path not in templates],
                    dirs=studio_dirs[:-1])
    # The suite's shared folder lets every user add templates; one of them
    # has replaced the template folder by a link to another program's.
    world.directory("/Users/Shared", mode=0o1777)
    world.directory(os.path.dirname(SHARED_TEMPLATES), mode=0o777)
    world.installed(OTHER_TEMPLATES, files=["Poster.qst", "Flyer.qst", "Letter.qst"],
                    content=b"another program's template\n")
    world.symlink(SHARED_TEMPLATES, OTHER_TEMPLATES, owner=PLANTING_USER)

    plugins = [f"{STUDIO_SUPPORT}/Plug-ins/{name}.qplugin"
               for name in ("Color", "Halftone", "Vectorize")]
    receipt_package(world, f"{DEMO_SUITE}.plugins", "Studio Plug-ins",
                    "QuorvaneStudioPlugins.pkg", files=relative(plugins),
                    dirs=relative([f"{STUDIO_SUPPORT}/Plug-ins"]), version="4.2",
                    parent=DEMO_SUITE, additionalfiles=[description(f"{DEMO_SUITE}.plugins")])

    receipt_package(world, f"{DEMO_SUITE}.support", "Studio Support",
                    "QuorvaneStudioSupport.pkg", files=relative([STUDIO_AGENT, AGENT_SERVICE]),
                    dirs=relative([os.path.dirname(STUDIO_AGENT), STUDIO_SUPPORT,
                                   "/Library/LaunchAgents"]),
                    version="4.2", parent=DEMO_SUITE, visible=False, services=[AGENT_SERVICE],
                    additionalfiles=[description(f"{DEMO_SUITE}.support")])
    world.plist(AGENT_SERVICE, {"Label": "com.quorvane.studio.agent",
                                "ProgramArguments": [STUDIO_AGENT]})

    kext = "/Library/Extensions/QuorvaneUSB.kext"
    driver_files = [f"{kext}/Contents/Info.plist", f"{CORE_FRAMEWORK}/QuorvaneCore"]
    driver_dirs = [kext, f"{kext}/Contents", CORE_FRAMEWORK]
    world.uninstall_plist("com.quorvane.drivers.plist", {
        "pkgid": "com.quorvane.drivers", "displayName": "Quorvane Device Drivers",
        "visible": True})
    world.database_package("com.quorvane.drivers", version="2.0.1",
                           files=relative(driver_files), dirs=relative(driver_dirs))
    world.installed("/", files=driver_files, dirs=driver_dirs)

    world.plist(SHARED_PREFERENCES, {"Products": {"Studio": "4.2", "Drivers": "2.0.1"},
                                     "UpdateChannel": "stable"})
    world.running_as(DEMO_USER, STUDIO_PROGRAM)
    world.running_as(DEMO_USER, STUDIO_AGENT)
    return world
