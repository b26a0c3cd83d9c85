"""Times --list over 300 uninstall plists (150 receipt-recorded packages, 150
known only to the package database) beside 300 bare starts of /bin/true in
the same sandbox. Not a test: prints the two times and their ratio, and how
much of the listing the fake pkgutil's own 150 starts account for.

Usage: QU_BINARY=path/to/quorvane-uninstall python3 e2e/time_listing.py
"""

import sys

import sandbox
from sandbox import Run
from world import World

COUNT = 150
STARTS = 300


def large_world():
    world = World()
    for number in range(COUNT):
        identifier = f"com.quorvane.receipt{number:03}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": f"Receipt package {number}", "visible": True})
        world.receipt(f"Receipt{number:03}.pkg", identifier, version="1.0")
    for number in range(COUNT):
        identifier = f"com.quorvane.database{number:03}"
        world.uninstall_plist(f"{identifier}.plist", {
            "pkgid": identifier, "displayName": f"Database package {number}", "visible": True})
        world.database_package(identifier)
    return world


def main():
    def loop(count, command):
        return ("/bin/sh", "-c",
                f"i=0; while [ $i -lt {count} ]; do {command}; i=$((i + 1)); done")

    listing, starts, fake = sandbox.run_all(large_world(), [
        Run(arguments=("--list",)),
        Run(command=loop(STARTS, "/bin/true")),
        Run(command=loop(COUNT, "/usr/sbin/pkgutil --pkg-info-plist com.quorvane.database000"
                                " >/dev/null"))])
    listed = listing.stdout.count("\n") - 2
    if listing.status != 0 or listed != 2 * COUNT:
        print(f"time_listing: --list failed (status {listing.status}, {listed} lines)",
              file=sys.stderr)
        return 1
    queries = len(listing.calls_of("pkgutil"))
    print(f"--list, {2 * COUNT} packages ({queries} package-database queries through the "
          f"fake pkgutil): {listing.elapsed:.3f} s")
    print(f"{STARTS} starts of /bin/true: {starts.elapsed:.3f} s")
    print(f"ratio: {listing.elapsed / starts.elapsed:.1f}")
    print(f"({COUNT} starts of the fake pkgutil alone: {fake.elapsed:.3f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
