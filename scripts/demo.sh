#!/usr/bin/env bash
# First look: builds the uninstaller and lists a sample installation inside a
# throwaway sandbox (needs root for the mount namespace; nothing on this
# machine is touched).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release --target quorvane-uninstall

QU_BINARY="$PWD/build/release/src/cli/quorvane-uninstall" exec python3 e2e/demo.py
