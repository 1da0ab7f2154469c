#!/usr/bin/env bash
# The Windows build's third-party libraries, cross-built once with mingw-w64 and kept under
# build/windows-deps/ (later runs reuse them at once): pugixml (the host framework's XML) and
# libpng (zrfgrab's pictures), from Debian's source packages of this suite; zlib comes built
# (libz-mingw-w64-dev). JPEG-LS stays out of the Windows build.
#
# Exits 77 after saying why when a source cannot be had: the callers skip what needs it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deps="$root/build/windows-deps"
prefix="$deps/prefix"
packages=(pugixml libpng1.6)
jobs=$(nproc 2>/dev/null || echo 2)

# Built already for these source versions: nothing to do.
stamp="$prefix/versions"
wanted_versions() {
  for p in "${packages[@]}"; do
    echo "$p $(apt-cache showsrc "$p" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)"
  done
}
if [ -f "$stamp" ] && [ -f "$prefix/lib/libpugixml.a" ] && [ -f "$prefix/lib/libpng16.a" ]; then
  if [ "$(cat "$stamp")" = "$(wanted_versions)" ] || [ -z "$(apt-cache showsrc pugixml 2>/dev/null)" ]; then
    exit 0
  fi
fi

mkdir -p "$deps"
log="$deps/build.log"
: >"$log"
if ! "$root/scripts/setup.sh" --deb-src libz-mingw-w64-dev dpkg-dev >>"$log" 2>&1; then
  echo "windows-deps: skipped: the packages to build with could not be installed:"
  tail -5 "$log"
  exit 77
fi

src="$deps/src"
rm -rf "$src"
mkdir -p "$src"
echo "windows-deps: fetching the sources of ${packages[*]} (once)"
if ! (cd "$src" && timeout 600 apt-get source -qq "${packages[@]}") >>"$log" 2>&1; then
  echo "windows-deps: skipped: Debian's sources of ${packages[*]} could not be had:"
  grep -E '^(E|W):' "$log" | tail -5 || tail -5 "$log"
  exit 77
fi

toolchain="$root/cmake/mingw-w64-x86_64.cmake"
build_one() {  # build_one NAME SOURCE-DIR CMAKE-OPTIONS...
  local name=$1 dir=$2
  shift 2
  echo "windows-deps: cross-building $name"
  cmake -S "$dir" -B "$deps/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >>"$log" 2>&1 &&
    cmake --build "$deps/build-$name" -j "$jobs" >>"$log" 2>&1 &&
    cmake --install "$deps/build-$name" >>"$log" 2>&1 || {
    echo "windows-deps: building $name failed (see $log):"
    tail -20 "$log"
    exit 1
  }
}
rm -rf "$prefix"
build_one pugixml "$(echo "$src"/pugixml-*/)" -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF
# zlib is found under the cross toolchain's own root.
build_one libpng "$(echo "$src"/libpng1.6-*/)" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF -Dld-version-script=OFF
wanted_versions >"$stamp"
rm -rf "$src" "$deps"/build-*
echo "windows-deps: ready in $prefix"
