#!/usr/bin/env bash
# Compiles the capture and imaging code (capture/, imaging/; not the tests) for Windows with
# the mingw-w64 cross compiler against the platform's own video headers (dshow.h, strmif.h,
# qedit.h, ks.h, ksmedia.h, ksproxy.h), and links a probe that uses every platform name the
# capture code relies on against the platform's libraries. Needs the Debian packages
# g++-mingw-w64-x86-64-posix (the -posix compiler has std::thread) and libcharls-dev (whose
# headers are plain C++ and serve the cross build too).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cxx="${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}"
if ! command -v "$cxx" >/dev/null; then
  echo "check-windows-build: $cxx not found (Debian package g++-mingw-w64-x86-64-posix)" >&2
  exit 2
fi
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
# The codec's headers only: the check compiles, it does not link the imaging code.
mkdir -p "$out/include"
ln -s /usr/include/charls "$out/include/charls"
flags=(-std=c++20 -O0 -Wall -Wextra -Wno-unused-parameter -I"$root" -isystem "$out/include"
       -DWIN32_LEAN_AND_MEAN)

status=0
for dir in capture imaging; do
  [[ -d "$root/$dir" ]] || continue
  while IFS= read -r -d '' source; do
    rel="${source#"$root"/}"
    if ! "$cxx" "${flags[@]}" -c "$source" -o "$out/$(echo "$rel" | tr / _).o"; then
      echo "check-windows-build: FAILED $rel" >&2
      status=1
    fi
  done < <(find "$root/$dir" -name '*.cpp' -print0 | sort -z)
done

if ! "$cxx" "${flags[@]}" "$root/scripts/windows_link_probe.cpp" -o "$out/probe.exe" \
    -lstrmiids -lksguid -lole32 -loleaut32 -luuid -lwinmm; then
  echo "check-windows-build: FAILED link probe" >&2
  status=1
fi
[[ $status -eq 0 ]] && echo "check-windows-build: ok"
exit $status
