#!/usr/bin/env bash
# Builds the project and runs the main job of zrfgrab.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target zrfgrab Vorn.CaptureDevice
exec build/default/tools/zrfgrab/zrfgrab "$@"
