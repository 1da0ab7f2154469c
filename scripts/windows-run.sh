#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: bash scripts/windows-run.sh PROGRAM ARGS...
# PROGRAM is a program of build/windows/bin (zrfgrab, wine_capture_test, ...), with or without
# ".exe". Builds what is missing first; on first use prepares a Wine prefix of its own
# (build/windows-wine: created, null graphics driver, the simulated cameras registered). File
# arguments are given as Linux paths: every argument that is an absolute path, alone or after
# "--option=", reaches the program as the Windows path of the same file. The program's output
# reaches this script's output as usual; when that is not a terminal it is passed on from
# files after the program ends (see scripts/windows-wine.sh). The exit status is the program's.
set -euo pipefail
here="$PWD"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
. scripts/windows-wine.sh

if [ $# -lt 1 ]; then
  echo "usage: bash scripts/windows-run.sh PROGRAM [ARGS...]   (e.g. zrfgrab grab --frames 40)" >&2
  exit 2
fi
program=${1%.exe}
shift

state="$root/build/windows-wine"
mkdir -p "$state"
log="$state/last-run.log"
if ! scripts/setup.sh wine64 wine >"$log" 2>&1 || ! command -v wine >/dev/null; then
  echo "windows-run: Wine could not be installed:" >&2
  tail -5 "$log" >&2
  exit 1
fi
deps_status=0
scripts/windows-deps.sh || deps_status=$?
if [ "$deps_status" -ne 0 ]; then
  echo "windows-run: the Windows build's dependencies are missing (above)" >&2
  exit 1
fi
jobs=$(nproc 2>/dev/null || echo 2)
if ! { cmake --preset windows && cmake --build --preset windows -j "$jobs" --target zrfgrab zrf_simcam; } >"$log" 2>&1; then
  echo "windows-run: building the Windows preset failed:" >&2
  grep -E 'error|Error' "$log" | head -20 >&2
  exit 1
fi
exe="$root/build/windows/bin/$program.exe"
if [ ! -f "$exe" ]; then
  echo "windows-run: no program '$program' in build/windows/bin (try: cmake --build --preset windows --target $program)" >&2
  exit 2
fi

export WINEPREFIX="$state/prefix"
dll="$root/build/windows/bin/zrf_simcam.dll"
# Prepared once; the cameras are registered again whenever their DLL was rebuilt.
if [ ! -f "$state/prepared" ]; then
  echo "windows-run: preparing a Wine prefix in $WINEPREFIX (once, about 15 s)" >&2
  rm -rf "$WINEPREFIX"
  wine_prepare_prefix "$dll" "$state/prepare.log" >&2 || exit 1
  touch "$state/prepared"
elif [ "$dll" -nt "$state/prepared" ]; then
  wine_register_cameras "$dll" "$state/prepare.log" >&2 || exit 1
  touch "$state/prepared"
fi

args=()
for a in "$@"; do
  case "$a" in
    /*) args+=("$(windows_path "$a")") ;;
    --*=/*) args+=("${a%%=*}=$(windows_path "${a#*=}")") ;;
    *) args+=("$a") ;;
  esac
done

# The program runs where this script was started, so relative paths mean the same to both.
cd "$here"
status=0
if [ -t 1 ] && [ -t 2 ]; then
  wine_bounded 3600 "$exe" "${args[@]}" || status=$?
else
  wine_bounded 3600 "$exe" "${args[@]}" >"$state/stdout" 2>"$state/stderr" </dev/null || status=$?
  cat "$state/stdout"
  cat "$state/stderr" >&2
fi
exit "$status"
