"""What every fake tool shares: the call log, the failure markers and the
fake programs' instructions."""

import json
import os
import sys
import time
import urllib.parse

CALL_LOG = "/var/log/qu-fakes.jsonl"
PACKAGE_DATABASE = "/var/db/qu-fake-pkgdb"
FAILING_ARGUMENTS = "/var/db/qu-fake-fail"
PROGRAMS = "/var/db/qu-fake-programs"
SHOWN_AS = "/var/db/qu-fake-ps-names"
# Seconds every call takes more, when the world asks for slow tools.
DELAY = "/var/db/qu-fake-delay"


def record(tool):
    """Appends this call's argument vector to the call log, as one JSON line."""
    line = json.dumps({"tool": tool, "argv": sys.argv[1:]}) + "\n"
    with open(CALL_LOG, "a", encoding="utf-8") as log:
        log.write(line)
    try:
        with open(DELAY, encoding="utf-8") as delay:
            time.sleep(float(delay.read()))
    except (OSError, ValueError):
        pass


def fail(message, status=1):
    print(f"{os.path.basename(sys.argv[0])}: {message}", file=sys.stderr)
    sys.exit(status)


def marked_failing(argument):
    """True when the world asked for calls with this argument to fail."""
    name = os.path.basename(argument.rstrip("/"))
    return bool(name) and os.path.exists(os.path.join(FAILING_ARGUMENTS, name))


def program_instructions(path):
    """Where the world leaves the instructions of the fake program at `path`."""
    return os.path.join(PROGRAMS, urllib.parse.quote(path, safe="") + ".json")


def shown_as(executable):
    """Where the world leaves the spelling the process list shows for a
    program running from `executable`."""
    return os.path.join(SHOWN_AS, urllib.parse.quote(executable, safe=""))
