#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each one a fixed number of times from its checked-in corpus, with a
# fixed seed, so every run does the same work. Any crash, leak, sanitizer
# report, failed check or time-out makes the script fail; the input that did
# it is kept in the build directory.
#
#   fuzz/run.sh [runs-per-target]     default 20000
#   QU_FUZZ_BUILD=dir fuzz/run.sh     build directory, default build/fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-20000}
build=${QU_FUZZ_BUILD:-build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQU_BUILD_FUZZERS=ON -DQU_BUILD_TESTS=OFF -DQU_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

# Inputs the fuzzer finds go to a scratch directory, never into the corpus.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures="$build/fuzz-failures"
rm -rf "$failures"

# Addresses differ from run to run (layout randomisation, allocator state) and
# would steer the fuzzer's choices through the comparisons it watches and the
# containers keyed by them. With randomisation off here and comparison
# tracing off below (-use_cmp=0), a run repeats exactly.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi

failed=0
for corpus in fuzz/corpus/*/; do
  target=$(basename "$corpus")
  mkdir "$scratch/$target"
  log="$scratch/$target.log"
  start=$SECONDS
  if "${norandom[@]}" "$build/fuzz/${target}_fuzzer" -runs="$runs" -seed=1 -use_cmp=0 \
      -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$scratch/$target-" \
      "$scratch/$target" "$corpus" >"$log" 2>&1; then
    reached=$(grep -o 'DONE .*corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | sed 's/DONE *//')
    echo "fuzz: $target: $runs runs, $((SECONDS - start)) s, ok ($reached)"
  else
    failed=1
    mkdir -p "$failures"
    cp "$scratch/$target"-* "$failures/" 2>/dev/null || true
    echo "fuzz: $target FAILED; its input is in $failures; the report ends:"
    tail -n 40 "$log"
  fi
done
exit "$failed"
