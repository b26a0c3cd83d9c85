"""Shell completion, driven the way the shells drive it, over the production
binary's JSON listing inside the sandbox; and the options that the help, the
manual page and both completions know, against each other."""

import os
import re
import shutil

import sandbox
from sandbox import Run
from test_listing import package
from world import sample_world

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..")
BASH_COMPLETION = "/usr/local/share/bash-completion/completions/quorvane-uninstall"
ZSH_COMPLETION = "/usr/local/share/zsh/site-functions/_quorvane-uninstall"
PROGRAM = "/usr/local/libexec/quorvane-uninstall"
COLLECTION = "{5A1E5-TOUR}"

# Sets COMP_WORDS and COMP_CWORD as bash does for the words after the
# completion file's path, the cursor at the end of the last one, calls the
# function that "complete" registered, and prints each reply on a line.
BASH_DRIVER = r'''
source "$1"; shift
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
function=$(complete -p quorvane-uninstall | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
"$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}"
'''

# The identifiers the zsh completion offers after --id, with the completion
# system's functions standing in as plainly as they can.
ZSH_DRIVER = r'''
_arguments() { : }
_call_program() { shift; eval "$@" }
_wanted() { shift 3; "$@" }
compadd() { print -l -- ${(P)2} }
words=("$2")
source "$1"
_quorvane_uninstall_identifiers
'''


def world_to_complete():
    """The sample world, a hidden package with a visible child (which the
    listing does not show) and a gallery collection."""
    world = sample_world()
    package(world, "runtime.plist", "com.quorvane.runtime", "Runtime", visible=False)
    package(world, "runtime.tools.plist", "com.quorvane.runtime.tools", "Runtime Tools",
            parent="com.quorvane.runtime")
    record = world.collection("/Library/Application Support/Quorvane Technologies/Tour",
                              "Studio Tour")
    world.gallery_preferences({COLLECTION: record})
    world.copy(BASH_COMPLETION, os.path.join(SOURCE, "completions", "quorvane-uninstall.bash"),
               mode=0o644)
    world.copy(ZSH_COMPLETION, os.path.join(SOURCE, "completions", "_quorvane-uninstall"),
               mode=0o644)
    return world


def listed_identifiers(listing):
    """The identifiers of a text listing, without the hyphens of their depth."""
    return [line[:40].rstrip().lstrip("-") for line in listing.splitlines()[2:]]


def bash_completion(*words):
    return Run(command=("/bin/bash", "-c", BASH_DRIVER, "bash", BASH_COMPLETION, PROGRAM, *words))


class CompletionTest(sandbox.SandboxTestCase):
    def test_bash_offers_options_and_the_listed_identifiers(self):
        options = ["--all", "--dry-run", "--gui", "--help", "--id", "--json", "--list",
                   "--verbose", "--version"]
        # (words after the program, the last one being completed; replies)
        cases = [
            (("--id", ""), None),  # the listing's identifiers
            (("-i", "com.quorvane.studio"), ["com.quorvane.studio", "com.quorvane.studio.plugins"]),
            (("--id", "="), None),  # "--id=" with nothing after it
            (("--all", "--id", "=", "com.quorvane.d"), ["com.quorvane.drivers"]),
            (("--id", "{"), [r"\{5A1E5-TOUR\}"]),  # quoted for the shell
            (("--id", "com.quorvane.runtime"), []),  # hidden, or below a hidden item
            (("--dr",), ["--dry-run"]),
            (("--ver",), ["--verbose", "--version"]),
            (("--",), options),
            (("-n", "--list", ""), []),
        ]
        runs = [Run(("--list",))] + [bash_completion(*words) for words, _ in cases]
        listing, *outcomes = sandbox.run_all(world_to_complete(), runs)
        identifiers = listed_identifiers(listing.stdout)
        self.assertEqual(identifiers, ["com.quorvane.drivers", "com.quorvane.studio",
                                       "com.quorvane.studio.plugins", COLLECTION])
        shell_words = [r"\{5A1E5-TOUR\}" if word == COLLECTION else word for word in identifiers]
        for (words, replies), outcome in zip(cases, outcomes):
            with self.subTest(words=words):
                self.assertEqual(outcome.stderr, "")
                self.assertEqual(outcome.stdout.splitlines(),
                                 shell_words if replies is None else replies)
                self.assertTrue(outcome.diff.empty, outcome.diff)

    def test_zsh_offers_the_listed_identifiers(self):
        if not shutil.which("zsh"):
            self.skipTest("zsh is not installed")
        listing, identifiers = sandbox.run_all(world_to_complete(), [
            Run(("--list",)),
            Run(command=(shutil.which("zsh"), "-fc", ZSH_DRIVER, "zsh", ZSH_COMPLETION, PROGRAM))])
        self.assertEqual(identifiers.stderr, "")
        self.assertEqual(identifiers.stdout.splitlines(), listed_identifiers(listing.stdout))


def read(*path):
    with open(os.path.join(SOURCE, *path), encoding="utf-8") as source:
        return source.read()


class OptionsAgreeTest(sandbox.SandboxTestCase):
    def test_help_manual_and_completions_know_the_same_options(self):
        help_run, = sandbox.run_all(sample_world(), [Run(("--help",))])
        # "  -l, --list      meaning" and "      --json      meaning"
        from_help = set()
        for line in help_run.stdout.splitlines():
            option = re.match(r"^  (?:(-[a-z]), |    )(--[a-z-]+)", line)
            if option:
                from_help.update(name for name in option.groups() if name)
        manual = read("man", "quorvane-uninstall.8")
        # ".It Fl a , Fl -all" and ".It Fl -json": the options described.
        described = " ".join(line for line in manual.splitlines()
                             if line.startswith(".It Fl"))
        from_manual = {"-" + flag for flag in re.findall(r"Fl (-?[a-z-]+)", described)}
        bash = read("completions", "quorvane-uninstall.bash")
        from_bash = set(re.search(r'options="([^"]*)"', bash).group(1).split())
        zsh = read("completions", "_quorvane-uninstall")
        from_zsh = set(re.findall(r"(?<![\w-])(--[a-z-]+|-[a-z])(?=[\[+=',}])", zsh))

        self.assertIn("--json", from_help)
        self.assertIn("-n", from_help)
        self.assertEqual(from_manual, from_help)
        self.assertEqual(from_bash, from_help)
        self.assertEqual(from_zsh, from_help)
