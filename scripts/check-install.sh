#!/usr/bin/env bash
# Installs a build into a scratch prefix with `cmake --install` and checks
# that the tool, its manual page and both completions land where man, bash
# and zsh look for them, that the installed tool is stripped, and that it runs.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/quorvane-uninstall share/man/man8/quorvane-uninstall.8 \
  share/bash-completion/completions/quorvane-uninstall share/zsh/site-functions/_quorvane-uninstall; do
  [[ -f $prefix/$file ]] || { echo "check-install: $file was not installed" >&2; exit 1; }
done
# Stripped: neither debug sections nor a symbol table.
sections=$(readelf -SW "$prefix/bin/quorvane-uninstall")
leftovers=$(grep -oE '\.(debug_[a-z_.]+|symtab)\b' <<<"$sections" | sort -u | tr '\n' ' ' || true)
[[ -z $leftovers ]] ||
  { echo "check-install: the installed tool is not stripped; it has $leftovers" >&2; exit 1; }
size=$(stat -c %s "$prefix/bin/quorvane-uninstall")
version=$("$prefix/bin/quorvane-uninstall" --version)
[[ $version =~ ^quorvane-uninstall\ [0-9]+\.[0-9]+\.[0-9]+$ ]] ||
  { echo "check-install: unexpected version line: $version" >&2; exit 1; }
echo "check-install: ok ($version, $size bytes)"
