"""The large package of the removal comparisons: its layout, and (run as a
program inside the sandbox) identical copies of it below given directories.

    python3 make_trees.py [--files N] DIRECTORY...

Each DIRECTORY receives Bench.app with N files (default 100,000), 20 to a
directory (100,000 files in 5,000 directories), the same shape the C++
benchmarks use.
"""

import os
import sys

SETS_PER_GROUP = 99
FILES_PER_DIRECTORY = 20
CONTENT = b"resource data, a few bytes so that each file has a block\n"


def layout(file_count=100_000):
    """(files, directories) relative to the install directory, parents first.
    The files are listed as a bill of materials may list them: file i in
    directory i mod (number of directories), each in another directory than
    the one before."""
    groups = max(1, file_count // (FILES_PER_DIRECTORY * (SETS_PER_GROUP + 1)))
    resources = "Bench.app/Contents/Resources"
    directories = ["Bench.app", "Bench.app/Contents", resources]
    files = []

    def add(directory):
        directories.append(directory)
        files.extend(f"{directory}/resource-{n:02}.dat" for n in range(FILES_PER_DIRECTORY))

    for group in range(groups):
        group_directory = f"{resources}/group-{group:02}"
        add(group_directory)
        for number in range(SETS_PER_GROUP):
            add(f"{group_directory}/set-{number:02}")
    count = len(files) // FILES_PER_DIRECTORY
    interleaved = [files[d * FILES_PER_DIRECTORY + f]
                   for f in range(FILES_PER_DIRECTORY) for d in range(count)]
    return interleaved, directories


def create(root, files, directories):
    for directory in directories:
        os.makedirs(os.path.join(root, directory))
    for name in files:
        descriptor = os.open(os.path.join(root, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(descriptor, CONTENT)
        os.close(descriptor)


def main(arguments):
    file_count = 100_000
    if arguments[:1] == ["--files"]:
        file_count, arguments = int(arguments[1]), arguments[2:]
    roots = arguments
    files, directories = layout(file_count)
    for root in roots:
        create(root, files, directories)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
