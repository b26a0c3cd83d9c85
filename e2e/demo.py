"""A first look at the uninstaller: lists a small sample installation inside
a throwaway sandbox, so nothing on this machine is read or changed.

Usage: QU_BINARY=path/to/quorvane-uninstall python3 e2e/demo.py
"""

import sys

import sandbox
from world import sample_world


def main():
    try:
        outcome = sandbox.run(sample_world(), "--list")
    except sandbox.SandboxUnavailable as error:
        print(f"demo: cannot make the sandbox: {error}", file=sys.stderr)
        return 1
    print("The sample installation: a receipt-recorded suite with a visible plug-in package")
    print("and a hidden support package, a driver package known only to the package")
    print("database, and a stray .DS_Store among the uninstall descriptions.\n")
    print("$ quorvane-uninstall --list")
    sys.stdout.write(outcome.stdout)
    print("\nIts log lines, on standard error:", flush=True)
    sys.stderr.write(outcome.stderr)
    sys.stderr.flush()
    print(f"\nExit status {outcome.status}. Nothing was removed: --list only reads.")
    return outcome.status


if __name__ == "__main__":
    sys.exit(main())
