#!/usr/bin/env bash
# The Windows build under Wine: builds the Windows preset (mingw-w64), creates a fresh Wine
# prefix in a temporary folder, registers the simulated cameras' source filter there and runs
# under Wine: the capture suite against a real DirectShow (its images compared with the Linux
# build's, windows_reference_images), the plug-in's device tests that need no stand-in-only
# hook, and zrfgrab.exe (the main job; a windowed IEEE-1394 grab and command 40, checked
# against the Linux zrfgrab: recordings verified by its info, pixels equal frame by frame to
# the Linux run's). Its last line is "N passed, N failed, N skipped".
#
# When it cannot run here (Wine cannot be installed), it says why and exits 77; when the
# plug-in's dependencies cannot be had (scripts/windows-deps.sh), only the capture suite runs,
# and it says so. With CI set either is a failure instead: CI skips nothing silently.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
. scripts/windows-wine.sh

# In CI nothing is skipped: what cannot run here fails the stage, with the reason.
cannot_run() {
  if [ -n "${CI:-}" ]; then
    echo "windows-test: FAILED: $1 (CI runs every stage)"
    echo "0 passed, 1 failed, 0 skipped"
    exit 1
  fi
  echo "windows-test: SKIPPED: $1"
}

if ! scripts/setup.sh wine64 wine googletest >/tmp/zrf-windows-setup.$$.log 2>&1 ||
    ! command -v wine >/dev/null || [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  tail -5 /tmp/zrf-windows-setup.$$.log
  rm -f /tmp/zrf-windows-setup.$$.log
  cannot_run "Wine, mingw-w64 or GoogleTest's sources could not be installed (above)"
  exit 77
fi
rm -f /tmp/zrf-windows-setup.$$.log

plugin=1
deps_status=0
scripts/windows-deps.sh || deps_status=$?
if [ "$deps_status" -eq 77 ]; then
  cannot_run "the plug-in's cross-built dependencies are missing: the device suites, the plug-in and zrfgrab.exe are not run"
  plugin=0
elif [ "$deps_status" -ne 0 ]; then
  echo "0 passed, 1 failed, 0 skipped"
  exit 1
fi

echo "windows-test: building the Linux reference images and zrfgrab, and the Windows preset"
linux_targets=(windows_reference_images)
[ "$plugin" = 1 ] && linux_targets+=(zrfgrab Vorn.CaptureDevice)
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target "${linux_targets[@]}" >/dev/null
# A configuration made before the dependencies were there must look again.
rm -f build/windows/CMakeCache.txt
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" >/dev/null
bin="$root/build/windows/bin"

work="$(mktemp -d /tmp/zrf-wine.XXXXXX)"
export WINEPREFIX="$work/prefix"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/reference"
build/default/tests/windows/windows_reference_images "$work/reference"
export ZRF_REFERENCE_DIR="$(windows_path "$work/reference")"

echo "windows-test: a fresh Wine prefix with the null graphics driver and the cameras registered"
wine_prepare_prefix "$bin/zrf_simcam.dll" "$work/prefix.log" || {
  echo "0 passed, 1 failed"
  exit 1
}

passed=0
failed=0
skipped=0

# run_suite EXE: a GoogleTest program under Wine; its report's counts are added up.
run_suite() {
  local name=$1 status=0
  echo "windows-test: $name under Wine"
  wine_bounded 600 "$bin/$name.exe" --gtest_output="xml:$(windows_path "$work/$name.xml")" \
    >"$work/$name.log" 2>&1 || status=$?
  wine_settle
  cat "$work/$name.log"
  if [ ! -f "$work/$name.xml" ]; then
    echo "windows-test: $name ended without a report (exit $status)"
    failed=$((failed + 1))
    return
  fi
  local summary total failures errors disabled skips
  summary=$(grep -m1 '<testsuites' "$work/$name.xml")
  total=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$summary")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$summary")
  errors=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$summary")
  disabled=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$summary")
  # The suites' own count of skipped tests is not written by every GoogleTest: each skipped
  # test case says so itself.
  skips=$(grep -c '<testcase [^>]*result="skipped"' "$work/$name.xml" || true)
  # Tests left out here by the suite's filter (the reasons are in tests/windows/CMakeLists.txt).
  local left_out
  left_out=$(sed -n 's/^Note: Google Test filter = -//p' "$work/$name.log" | tr -d '\r' | tr ':' '\n' |
    grep -c . || true)
  skipped=$((skipped + left_out))
  failed=$((failed + failures + errors))
  skipped=$((skipped + skips))
  passed=$((passed + total - failures - errors - disabled - skips))
  # A suite that ended abnormally after its report counts as one failure more.
  if [ "$status" -ne 0 ] && [ $((failures + errors)) -eq 0 ]; then failed=$((failed + 1)); fi
}

# check NAME COMMAND...: one check of zrfgrab, passed when the command succeeds.
check() {
  local name=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    echo "[       OK ] zrfgrab: $name"
    passed=$((passed + 1))
  else
    echo "[  FAILED  ] zrfgrab: $name"
    sed 's/^/    /' "$work/check.log" | tail -15
    failed=$((failed + 1))
  fi
}

linux_zrfgrab="$root/build/default/tools/zrfgrab/zrfgrab"

# zrfgrab.exe under Wine in FOLDER, its output in FOLDER/out.log.
wine_zrfgrab() {
  local folder=$1 status=0
  shift
  mkdir -p "$folder"
  (cd "$folder" && wine_bounded 300 "$bin/zrfgrab.exe" "$@" >out.log 2>&1) || status=$?
  wine_settle
  tr -d '\r' <"$folder/out.log" >"$folder/out.txt"
  return "$status"
}

# As recording_whole, and the file ends where its last record does.
recording_whole_and_clean() {
  recording_whole "$@" && grep -q "^ending       clean" "$1.info"
}

# The Linux zrfgrab's info finds the recording whole (every checksum good) with N frames.
recording_whole() {
  local recording=$1 frames=$2
  "$linux_zrfgrab" info "$recording" >"$recording.info" &&
    grep -q "^frames       $frames (checksums: $frames good, 0 bad)" "$recording.info"
}

# Both recordings hold the same frames whose pixels are the same bytes, frame by frame; the
# time stamps (in the frame information and the records) may differ.
same_pixels() {
  local a=$1 b=$2 f layout
  rm -rf "$a.frames" "$b.frames"
  "$linux_zrfgrab" export "$a" --zrf "$a.frames" >/dev/null &&
    "$linux_zrfgrab" export "$b" --zrf "$b.frames" >/dev/null || return 1
  [ "$(ls "$a.frames")" = "$(ls "$b.frames")" ] || { echo "different frames"; return 1; }
  for f in $(ls "$a.frames"); do
    layout=$("$linux_zrfgrab" info "$a.frames/$f" |
      sed -n 's/.*type 1 (pixels).*offset \([0-9]*\), length \([0-9]*\).*/\1 \2/p')
    [ -n "$layout" ] && [ "$layout" = "$("$linux_zrfgrab" info "$b.frames/$f" |
      sed -n 's/.*type 1 (pixels).*offset \([0-9]*\), length \([0-9]*\).*/\1 \2/p')" ] ||
      { echo "$f: the pixel blocks differ in place"; return 1; }
    set -- $layout
    cmp -i "$1" -n "$2" "$a.frames/$f" "$b.frames/$f" || { echo "$f: the pixels differ"; return 1; }
  done
  rm -rf "$a.frames" "$b.frames"
}

run_suite wine_capture_test

if [ "$plugin" = 1 ]; then
  run_suite device_tests
  echo "windows-test: zrfgrab.exe under Wine, checked against the Linux zrfgrab"
  main="$work/main"
  check "the main job: 300 frames from usb-ir, recorded, with a picture" \
    wine_zrfgrab "$main"
  check "the main job's recording is whole" recording_whole "$main/zrfgrab-out/recording.zrec" 300
  check "the main job's picture is a PNG file" \
    cmp -n 8 "$main/zrfgrab-out/last-frame.png" <(printf '\x89PNG\r\n\x1a\n')
  # The main job's camera and frames, as fast as the camera can.
  (mkdir -p "$work/linux-main" && cd "$work/linux-main" &&
    "$linux_zrfgrab" grab --camera usb-ir --fast --quiet --record recording.zrec >/dev/null 2>&1) || true
  check "the main job's pixels equal the Linux build's" \
    same_pixels "$work/linux-main/recording.zrec" "$main/zrfgrab-out/recording.zrec"

  grab=(grab --camera fw-ir --windowing 2 --frames 40 --seed 7)
  check "${grab[*]} --record FILE" wine_zrfgrab "$work/fw" "${grab[@]}" --record fw.zrec
  check "its recording is whole" recording_whole "$work/fw/fw.zrec" 40
  (mkdir -p "$work/linux-fw" && cd "$work/linux-fw" &&
    "$linux_zrfgrab" "${grab[@]}" --fast --quiet --record fw.zrec >/dev/null 2>&1) || true
  check "its pixels equal the Linux build's" same_pixels "$work/linux-fw/fw.zrec" "$work/fw/fw.zrec"

  # Recordings go around the page cache there too: unbuffered, written through, in whole sectors.
  check "grab --json --record FILE, written unbuffered" wine_zrfgrab "$work/unbuffered" \
    grab --camera usb-ir --frames 45 --fast --quiet --json --record u.zrec
  check "its blocks are 4096 bytes" grep -q '"recording_write_block": 4096,' "$work/unbuffered/out.txt"
  check "its recording is whole, its size set (no padding at its end)" \
    recording_whole_and_clean "$work/unbuffered/u.zrec" 45

  check "command 40 --camera fw-ir" wine_zrfgrab "$work/cmd" command 40 --camera fw-ir
  check "command 40 answers as on Linux" \
    diff <(cd "$work" && "$linux_zrfgrab" command 40 --camera fw-ir 2>&1) "$work/cmd/out.txt"
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
