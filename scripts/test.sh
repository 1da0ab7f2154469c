#!/usr/bin/env bash
# Builds the project and runs every test: the default build, the sanitizer builds, the Windows
# build under Wine (the capture code against its DirectShow, the plug-in and zrfgrab), then every
# fuzz target for a bounded time.
# ZRF_TEST_PRESETS picks the builds (default: "default asan tsan"); ZRF_WINDOWS=0 skips the
# Windows stage; ZRF_FUZZ_SECONDS the time per fuzz target (default 20; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
presets=${ZRF_TEST_PRESETS:-default asan tsan}

for preset in $presets; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  case "$preset" in
    # Under ThreadSanitizer only what involves more than one thread is worth the time.
    tsan) ctest --preset tsan -j "$jobs" -L threads ;;
    *)    ctest --preset "$preset" -j "$jobs" ;;
  esac
done

# The Windows build under Wine: the capture code against a real DirectShow, the plug-in, zrfgrab.
if [ "${ZRF_WINDOWS:-1}" = 0 ]; then
  echo "=== windows: skipped (ZRF_WINDOWS=0)"
else
  echo "=== windows: the Windows build under Wine"
  windows_status=0
  scripts/windows-test.sh || windows_status=$?
  if [ "$windows_status" -eq 77 ] && [ -n "${CI:-}" ]; then
    echo "=== windows: could not run (the reason is above); CI runs every stage"
    exit 1
  elif [ "$windows_status" -eq 77 ]; then
    echo "=== windows: SKIPPED (the reason is above)"
  elif [ "$windows_status" -ne 0 ]; then
    exit "$windows_status"
  fi
fi

fuzz_seconds=${ZRF_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "=== fuzz: every target for ${fuzz_seconds} s with its regression inputs"
  scripts/fuzz.sh "$fuzz_seconds"
else
  echo "=== fuzz: skipped (ZRF_FUZZ_SECONDS=0)"
fi
