#!/usr/bin/env bash
# The Windows build's third-party libraries, cross-built once with mingw-w64: pugixml (the host
# framework's XML) and libpng (zrfgrab's pictures), from Debian's source packages of this suite;
# zlib comes built (libz-mingw-w64-dev). JPEG-LS stays out of the Windows build.
#
# Like installed packages they are kept for the machine, not the checkout: in
# ${ZRF_CACHE_DIR:-~/.cache/zrf}/windows-deps-KEY, KEY naming what they are built with (the
# versions of the cross toolchain's packages, its CMake toolchain file and this script), so a
# fresh clone reuses them at once; build/windows-deps/prefix links there. Where that folder cannot
# be written they are built under build/windows-deps/ itself. Each build goes to a folder of its
# own, which is made current (a link switched in one rename) only once complete.
#
# Exits 77 after saying why when a source cannot be had: the callers skip what needs it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deps="$root/build/windows-deps"
packages=(pugixml libpng1.6)
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
toolchain_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev)
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$deps"
log="$deps/build.log"
: >"$log"

installed_versions() {
  local p v
  for p in "${toolchain_packages[@]}"; do
    v=$(dpkg-query -W -f='${Status} ${Version}' "$p" 2>/dev/null || true)
    case $v in
      "install ok installed "*) echo "$p ${v##* }" ;;
      *) echo "$p none" ;;
    esac
  done
}
# The toolchain first: the key names its versions.
if installed_versions | grep -q ' none$'; then
  if ! "$root/scripts/setup.sh" "${toolchain_packages[@]}" dpkg-dev >>"$log" 2>&1; then
    echo "windows-deps: skipped: the packages to build with could not be installed:"
    tail -5 "$log"
    exit 77
  fi
fi
key=$({ installed_versions; cat "$toolchain" "$0"; } | sha256sum | cut -c1-16)

# Where the built libraries live: the machine's cache when it can be written.
cache_root=${ZRF_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}/zrf}
store="$cache_root/windows-deps-$key"
if [ "$cache_root" = /zrf ] || ! mkdir -p "$store" 2>/dev/null || [ ! -w "$store" ]; then
  store="$deps/store"
  mkdir -p "$store"
fi
current="$store/prefix"  # a link to the complete build in use
# One builder at a time per store: two clones testing at once share it. Nothing started below
# keeps the lock's descriptor.
exec 9>"$store/lock"
flock 9
link_prefix() {
  rm -rf "$deps/prefix"
  ln -sfn "$current" "$deps/prefix"
}

# Built already for these source versions: nothing to do. The stamp is written last, so a build
# that stopped half way never counts.
wanted_versions() {
  for p in "${packages[@]}"; do
    echo "$p $(apt-cache showsrc "$p" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)"
  done
}
stamp="$current/versions"
if [ -f "$stamp" ] && [ -f "$current/lib/libpugixml.a" ] && [ -f "$current/lib/libpng16.a" ]; then
  if [ "$(cat "$stamp")" = "$(wanted_versions)" ] || [ -z "$(apt-cache showsrc pugixml 2>/dev/null)" ]; then
    link_prefix
    exit 0
  fi
fi

if ! "$root/scripts/setup.sh" --deb-src dpkg-dev >>"$log" 2>&1 9>&-; then
  echo "windows-deps: skipped: Debian's source packages could not be reached:"
  tail -5 "$log"
  exit 77
fi

# What an earlier build left (it may have stopped half way) is not built on.
src="$store/src"
rm -rf "$src" "$store"/build-*
mkdir -p "$src"
echo "windows-deps: fetching the sources of ${packages[*]} (once)"
if ! (cd "$src" && timeout 600 apt-get source -qq "${packages[@]}") >>"$log" 2>&1 9>&-; then
  echo "windows-deps: skipped: Debian's sources of ${packages[*]} could not be had:"
  grep -E '^(E|W):' "$log" | tail -5 || tail -5 "$log"
  exit 77
fi

prefix="$store/prefix-$(date +%s)-$$"
build_one() {  # build_one NAME SOURCE-DIR CMAKE-OPTIONS...
  local name=$1 dir=$2
  shift 2
  echo "windows-deps: cross-building $name"
  { cmake -S "$dir" -B "$store/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" &&
    cmake --build "$store/build-$name" -j "$jobs" &&
    cmake --install "$store/build-$name"; } >>"$log" 2>&1 9>&- || {
    echo "windows-deps: building $name failed (see $log):"
    tail -20 "$log"
    rm -rf "$prefix"
    exit 1
  }
}
build_one pugixml "$(echo "$src"/pugixml-*/)" -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF
# zlib is found under the cross toolchain's own root.
build_one libpng "$(echo "$src"/libpng1.6-*/)" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF -Dld-version-script=OFF
wanted_versions >"$prefix/versions"

# Made current in one rename; the build it replaces stays until the next, for a clone that may
# still be linking against it.
previous=$(readlink "$current" 2>/dev/null || true)
[ -L "$current" ] || rm -rf "$current"
ln -sfn "$(basename "$prefix")" "$store/prefix.link"
mv -T "$store/prefix.link" "$current"
for old in "$store"/prefix-*; do
  [ "$old" = "$prefix" ] || [ "$(basename "$old")" = "$previous" ] || rm -rf "$old"
done
rm -rf "$src" "$store"/build-*
link_prefix
# Stores no clone has used for a month (other toolchains, older versions of this script) go.
if [ "$store" != "$deps/store" ]; then
  for other in "$cache_root"/windows-deps-*; do
    [ "$other" = "$store" ] || [ -z "$(find "$other/lock" -mtime +30 2>/dev/null)" ] || rm -rf "$other"
  done
fi
echo "windows-deps: ready in $prefix"
