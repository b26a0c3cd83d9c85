#!/usr/bin/env bash
# Builds everything with warnings fatal and runs every test: the unit and
# end-to-end tests under AddressSanitizer (with leak detection) and
# UndefinedBehaviorSanitizer, then all of them again in the regular build.
# Ends with ctest's summary of the regular build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQU_WERROR=ON -DQU_SANITIZE=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -L 'unit|e2e' -j "$jobs" --output-on-failure

# Every parser of outside input, fuzzed for a fixed, deterministic number of runs.
fuzz/run.sh 5000

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQU_WERROR=ON
cmake --build build/release -j "$jobs"
scripts/lint.sh build/release
ctest --test-dir build/release -j "$jobs" --output-on-failure
