#!/usr/bin/env bash
# Builds the project and runs every test: the default build, then the sanitizer builds.
# ZRF_TEST_PRESETS picks the builds (default: "default asan tsan").
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
