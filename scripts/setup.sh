#!/usr/bin/env bash
# Installs, from Debian's packages, what the build and the tests need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config libboost-regex-dev libxml2-dev libplist-dev
  libplist-utils libicu-dev libgtest-dev libgmock-dev libbenchmark-dev python3 util-linux procps
  clang libclang-rt-14-dev clang-tidy-14 cppcheck git nlohmann-json3-dev mandoc zsh
  python3-jsonschema)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
