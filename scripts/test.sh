#!/usr/bin/env bash
# Builds the project and runs every test: the Windows compile check, the default build, the
# sanitizer builds, then every fuzz target for a bounded time.
# ZRF_TEST_PRESETS picks the builds (default: "default asan tsan"); ZRF_FUZZ_SECONDS the time
# per fuzz target (default 20; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
presets=${ZRF_TEST_PRESETS:-default asan tsan}

# The capture and imaging code must also compile for Windows against the platform's headers.
echo "=== windows: capture and imaging against the platform's own headers"
scripts/check-windows-build.sh

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

fuzz_seconds=${ZRF_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "=== fuzz: every target for ${fuzz_seconds} s with its regression inputs"
  scripts/fuzz.sh "$fuzz_seconds"
else
  echo "=== fuzz: skipped (ZRF_FUZZ_SECONDS=0)"
fi
