#!/usr/bin/env bash
# The capture code against a real DirectShow: builds the Windows preset (mingw-w64), creates a
# fresh Wine prefix in a temporary folder, registers the simulated cameras' source filter there
# and runs the Windows suite under Wine. The images it compares with come from the Linux build
# (windows_reference_images). Its last line is "N passed, N failed".
#
# Exits 77 after saying why when it cannot run here (Wine cannot be installed). Wine's output
# goes to files, never through a pipe: wineserver and its helpers inherit it and would hold a
# pipe open.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

if ! scripts/setup.sh wine64 wine googletest >/tmp/zrf-windows-setup.$$.log 2>&1 ||
    ! command -v wine >/dev/null || [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "windows-test: skipped: Wine, mingw-w64 or GoogleTest's sources could not be installed:"
  tail -5 /tmp/zrf-windows-setup.$$.log
  rm -f /tmp/zrf-windows-setup.$$.log
  exit 77
fi
rm -f /tmp/zrf-windows-setup.$$.log

echo "windows-test: building the Linux reference images and the Windows preset"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target windows_reference_images >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" >/dev/null

work="$(mktemp -d /tmp/zrf-wine.XXXXXX)"
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
# No mono or gecko installer prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

windows_path() { echo "Z:${1//\//\\}"; }
# Every Wine program runs bounded: a hung one must not hold the machine. Waiting for the
# session to end is bounded too; what is left then is ended.
wine_bounded() { timeout -k 10 "$1" wine "${@:2}"; }
wine_settle() { timeout 120 wineserver -w || wineserver -k; }

mkdir -p "$work/reference"
build/default/tests/windows/windows_reference_images "$work/reference"
export ZRF_REFERENCE_DIR="$(windows_path "$work/reference")"

echo "windows-test: a fresh Wine prefix with the null graphics driver"
timeout -k 10 300 wineboot -i >"$work/wineboot.log" 2>&1
wine_settle
# Without a display every video renderer fails to create; the null driver needs none. The
# desktop reads the setting when it starts, so the session that wrote it ends first.
wine_bounded 120 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$work/reg.log" 2>&1
wine_settle
wine_bounded 120 regsvr32 /s "$(windows_path "$root/build/windows/zrf_simcam.dll")" >"$work/regsvr32.log" 2>&1 || {
  echo "windows-test: registering the source filter failed:"
  cat "$work/regsvr32.log"
  wine_settle
  echo "0 passed, 1 failed"
  exit 1
}

echo "windows-test: the Windows suite under Wine"
status=0
wine_bounded 600 "$(windows_path "$root/build/windows/tests/windows/wine_capture_test.exe")" \
  --gtest_output="xml:$(windows_path "$work/results.xml")" >"$work/test.log" 2>&1 || status=$?
wine_settle
cat "$work/test.log"

passed=0
failed=1
if [ -f "$work/results.xml" ]; then
  summary=$(grep -m1 '<testsuites' "$work/results.xml")
  total=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$summary")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$summary")
  errors=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$summary")
  disabled=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$summary")
  failed=$((failures + errors))
  passed=$((total - failed - disabled))
  # A suite that ended abnormally after its report counts as one failure more.
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
else
  echo "windows-test: the suite ended without a report (exit $status)"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
