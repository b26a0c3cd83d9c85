#!/usr/bin/env bash
# Static analysis of the production code: clang-tidy with the checked-in
# .clang-tidy (every finding is an error) and cppcheck; the manual page
# through mandoc's checker and the completions through their shells' parsers.
# Needs a configured build directory for its compile commands (default
# build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

echo "lint: manual page and completions"
# Warnings fail; style notes (such as pages of other systems that are not
# installed here) do not.
mandoc -T lint -W warning man/quorvane-uninstall.8
bash -n completions/quorvane-uninstall.bash
zsh -n completions/_quorvane-uninstall

echo "lint: cppcheck"
# readdir_r, which cppcheck suggests, is deprecated; readdir is safe per
# directory stream and the tool is single-threaded.
cppcheck --std=c++20 --language=c++ -I src --enable=warning,performance,portability \
  --inline-suppr --quiet --error-exitcode=1 --library=posix --library=googletest \
  --suppress=readdirCalled $(git ls-files 'src/*.cc' 'fuzz/*.cc' 'bench/*.cc')

echo "lint: clang-tidy"
# The library and tool sources; tests are held to the compiler's warnings.
run-clang-tidy-14 -p "$build" -j "$(nproc)" -quiet "$PWD/src/(?!.*_test\\.cc$).*\\.cc$" \
  > "$build/clang-tidy.log" 2>&1 || {
  sed 's/\x1b\[[0-9;]*m//g' "$build/clang-tidy.log" | grep -E '(warning|error):' | sort -u
  echo "lint: clang-tidy found problems (full log: $build/clang-tidy.log)"
  exit 1
}
echo "lint: clean"
