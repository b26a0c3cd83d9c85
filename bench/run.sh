#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them all, then prints one table of
# ratios; each ratio is against a baseline measured in the same run. The
# sandbox comparisons need root; without it their row says they were skipped.
#
# Usage: bench/run.sh [--rounds N]
#   BENCH_BUILD   build directory (default build/bench); the log is bench.log there
#   DISK_TMPDIR   also run the removal comparison with its trees in this directory
#                 (on disk; slow, and as noisy as the disk's write-back)
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=5
sandbox_rounds=3
if [[ ${1:-} == --rounds && -n ${2:-} ]]; then
  rounds=$2
  sandbox_rounds=$2
elif [[ $# -gt 0 ]]; then
  echo "usage: $0 [--rounds N]" >&2
  exit 2
fi

scripts/setup.sh
build=${BENCH_BUILD:-build/bench}
# Release without -Werror: GCC 12 at -O3 warns falsely (-Wrestrict) inside
# std::string, which the warning-as-error builds (-O2 and below) never see.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQU_BUILD_BENCHMARKS=ON \
  -DQU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target removal_bench process_table_bench \
  peak_memory_bench output_bench plist_read_bench quorvane-uninstall

log=$build/bench.log
: >"$log"
run() {
  echo "== $*" | tee -a "$log"
  "$@" 2>&1 | tee -a "$log"
}

run env TMPDIR=/dev/shm "$build/bench/removal_bench" --rounds "$rounds"
if [[ -n ${DISK_TMPDIR:-} ]]; then
  run env TMPDIR="$DISK_TMPDIR" "$build/bench/removal_bench" --rounds "$rounds"
fi
run "$build/bench/process_table_bench" --benchmark_color=false
run "$build/bench/peak_memory_bench"
run env TMPDIR=/dev/shm "$build/bench/output_bench" --rounds "$((rounds * 2 - 1))"
run "$build/bench/plist_read_bench" --rounds "$rounds"
run env QU_BINARY="$build/src/cli/quorvane-uninstall" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 bench/sandbox_bench.py --rounds "$sandbox_rounds"

memory=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
echo
echo "Machine: $(nproc) CPUs, $model, $memory memory; $(date -u +%Y-%m-%d)"
echo
echo "| Comparison | Measured | Baseline | Ratio | Target | Met |"
echo "|---|---|---|---|---|---|"
grep '^| ' "$log" || true
