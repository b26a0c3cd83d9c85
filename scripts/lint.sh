#!/usr/bin/env bash
# Static analysis of the production code: clang-tidy with the checked-in
# .clang-tidy (every finding is an error) and cppcheck; the manual page
# through mandoc's checker and a look at its rendered quotes, the completions
# through their shells' parsers and the bash one against bash 4 constructs.
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

# The checker does not see a quoting macro that runs on over the next ones
# (a .Dq inside .Pq takes the rest of the line), so the rendered page is
# read: in each paragraph every opening quote is closed before the next one
# opens, and no closing quote comes without an opening one.
# The curly quotes become single bytes, whatever the locale.
mandoc -T utf8 man/quorvane-uninstall.8 | LC_ALL=C.UTF-8 col -b |
  sed $'s/\xe2\x80\x9c/\x01/g; s/\xe2\x80\x9d/\x02/g' | LC_ALL=C awk '
  function fail(what,  shown) {
    if (reported == NR) return
    shown = $0; gsub(/\001/, "\342\200\234", shown); gsub(/\002/, "\342\200\235", shown)
    printf "lint: manual page, rendered line %d: %s\n  %s\n", NR, what, shown; bad = 1; reported = NR
  }
  function left_open() { printf "lint: manual page, rendered line %d: a quote opens and the paragraph ends\n", opened; bad = 1 }
  /^[[:space:]]*$/ { if (open) left_open(); open = 0; next }
  {
    for (i = 1; i <= length($0); i++) {
      c = substr($0, i, 1)
      if (c == "\001") { if (open) fail("a quote opens inside a quote"); open = 1; opened = NR }
      else if (c == "\002") { if (!open) fail("a quote closes that was not opened"); open = 0 }
    }
  }
  END { if (open) left_open(); exit bad }' ||
  { echo "lint: the manual page renders unbalanced quotes; close each .Dq before the next"; exit 1; }

# macOS runs completions with its /bin/bash, bash 3.2: the completion may
# use nothing that came with bash 4. Whole-line comments are not code.
bash4_constructs=(
  'mapfile or readarray' '\b(mapfile|readarray)\b'
  'an associative array, a name reference or a global from a function'
  '\b(declare|local|typeset)\s+-\w*[Ang]'
  'case modification ${x,,} ${x^^}' '\$\{[#!]?\w+(\[[^]]*\])?(,|\^)'
  'a transformation ${x@Q}' '\$\{[^}]*@[A-Za-z]\}'
  'compopt without a "type compopt" guard on its line' '^(?!.*\btype\s+compopt\b).*\bcompopt\b'
  'a case fall-through ;& or ;;&' ';;?&'
  'a negative array subscript' '\[\s*-\s*\d+\s*\]'
  'an appending &>> or a pipe |&' '&>>|\|&'
  'coproc' '\bcoproc\b'
  'a descriptor chosen by the shell {fd}>' '(?<!\$)\{\w+\}[<>]'
)
code=$(sed 's/^[[:space:]]*#.*//' completions/quorvane-uninstall.bash)
too_new=
for ((i = 0; i < ${#bash4_constructs[@]}; i += 2)); do
  while IFS= read -r hit; do
    echo "lint: completions/quorvane-uninstall.bash:${hit%%:*}: ${bash4_constructs[i]} needs bash 4 or later; macOS's /bin/bash is 3.2"
    too_new=1
  done < <(grep -nP -- "${bash4_constructs[i + 1]}" <<<"$code" || true)
done
[[ -z $too_new ]] || exit 1

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
