#!/usr/bin/env bash
# First look: builds the uninstaller and runs it on a sample installation
# inside a throwaway sandbox (needs root for the mount namespace; nothing on
# this machine is touched): the listing, the dry run an ordinary user may
# make, the removal as root with its progress and log, the listing again, and
# what the sandbox's files and programs show afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
mkdir -p build
log=build/demo-build.log
echo "Building quorvane-uninstall in build/release (a few minutes the first time; output in $log)"
if ! { cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
  cmake --build build/release --target quorvane-uninstall; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "demo: the build failed; the whole output is in $log" >&2
  exit 1
fi

QU_BINARY="$PWD/build/release/src/cli/quorvane-uninstall" exec python3 e2e/demo.py
