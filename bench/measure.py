"""Runs a command and reports, as the last line on standard error, how long it
took: "qu-bench-measure: WALL CPU", in seconds, where CPU is the user and
system time of the command and of every child it waited for. Exits with the
command's status. Used inside the sandbox, where other work on the machine
makes wall-clock time alone unreliable.

Usage: python3 measure.py PROGRAM [ARGUMENT...]
"""

import os
import resource
import sys
import time

PREFIX = "qu-bench-measure:"


def main(argv):
    started = time.monotonic()
    pid = os.fork()
    if pid == 0:
        try:
            os.execv(argv[0], argv)
        finally:
            os._exit(127)
    _, status = os.waitpid(pid, 0)
    wall = time.monotonic() - started
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    sys.stderr.flush()
    print(f"{PREFIX} {wall:.6f} {usage.ru_utime + usage.ru_stime:.6f}", file=sys.stderr)
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
