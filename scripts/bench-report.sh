#!/usr/bin/env bash
# Builds the default preset's benchmark programs, runs each once and prints one table: every
# measured ratio against its baseline with its goal, and the peak memory of a 10,000-frame
# recording run. Each row ends with "meets" or "misses"; the last line counts the misses.
# ZRF_BENCH_ARGS is passed to every benchmark program (e.g. --benchmark_min_time=0.05s).
set -uo pipefail
cd "$(dirname "$0")/.."
build=build/default
logs=$build/bench-report
mkdir -p "$logs"

echo "=== bench-report: configure and build (preset default)" >&2
{ cmake --preset default >/dev/null &&
  cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" \
    --target crc32_bench decode_bench capture_path_bench zrfgrab Vorn.CaptureDevice; } >&2 || exit 1

# "ratio: KEY VALUE" lines of every program, gathered into one file.
ratios=$logs/ratios.txt
: >"$ratios"
for program in "$build"/bench/*_bench; do
  [ -x "$program" ] || continue
  name=$(basename "$program")
  echo "=== bench-report: $name" >&2
  # shellcheck disable=SC2086
  if ! "$program" ${ZRF_BENCH_ARGS:-} >"$logs/$name.log" 2>&1; then
    echo "    $name failed; see $logs/$name.log" >&2
  fi
  grep '^ratio: ' "$logs/$name.log" | sed 's/^ratio: //' >>"$ratios"
done

# Peak resident memory (KiB) of a zrfgrab recording run of N frames; empty when it failed.
peak_rss_kib() {
  local frames=$1 file
  file=$(mktemp /tmp/bench-report.XXXXXX.zrec)
  /usr/bin/time -f '%M' -o "$logs/time-$frames.txt" \
    "$build/tools/zrfgrab/zrfgrab" grab --camera usb-ir --fast --frames "$frames" --record "$file" \
    >"$logs/grab-$frames.log" 2>&1
  local status=$?
  rm -f "$file"
  [ $status -eq 0 ] && tail -n 1 "$logs/time-$frames.txt"
}
echo "=== bench-report: recording runs (1,000 and 10,000 frames)" >&2
rss_small=$(peak_rss_kib 1000)
rss_large=$(peak_rss_kib 10000)

misses=0
row() {  # label, value text, goal text, verdict
  printf '%-44s %12s   %-14s %s\n' "$1" "$2" "$3" "$4"
  [ "$4" = meets ] || misses=$((misses + 1))
}
ratio_row() {  # label, key, goal
  local value verdict
  value=$(awk -v k="$2" '$1 == k { v = $2 } END { if (v != "") print v }' "$ratios")
  if [ -z "$value" ]; then
    row "$1" "n/a" "<= $3 x" misses
    return
  fi
  verdict=$(awk -v v="$value" -v g="$3" 'BEGIN { print (v <= g) ? "meets" : "misses" }')
  row "$1" "$(printf '%.3f x' "$value")" "<= $3 x" "$verdict"
}

echo
printf '%-44s %12s   %-14s %s\n' "measure (against its baseline)" "ratio" "goal" "verdict"
ratio_row "CRC-32 / zlib crc32" crc32_vs_zlib 1.0
ratio_row "USB raw decode / memcpy of the frame" usb_raw_vs_memcpy 1.5
ratio_row "USB raw, swapped pixels / memcpy" usb_raw_swapped_vs_memcpy 1.5
ratio_row "IEEE-1394 decode / memcpy of the frame" ieee1394_vs_memcpy 1.5
ratio_row "JPEG-LS path / bare CharLS decode" jpegls_vs_bare_decode 1.05
ratio_row "capture path / decode alone: USB raw" capture_path_UsbRaw 1.05
ratio_row "capture path / decode alone: USB JPEG-LS" capture_path_UsbJpegLs 1.05
ratio_row "capture path / decode alone: IEEE-1394" capture_path_Ieee1394 1.05
ratio_row "capture path / decode alone: YUY2" capture_path_Yuy2 1.05
# The recording run streams to disk: its memory must not grow with the number of frames.
if [ -n "$rss_large" ] && [ -n "$rss_small" ]; then
  mib=$(awk -v k="$rss_large" 'BEGIN { printf "%.1f", k / 1024 }')
  row "peak RSS, 10,000-frame recording (MiB)" "$mib" "<= 256 MiB" \
    "$(awk -v k="$rss_large" 'BEGIN { print (k <= 256 * 1024) ? "meets" : "misses" }')"
  growth=$(awk -v a="$rss_large" -v b="$rss_small" 'BEGIN { printf "%.3f", a / b }')
  row "peak RSS, 10,000 / 1,000 frames" "$growth x" "<= 1.1 x" \
    "$(awk -v g="$growth" 'BEGIN { print (g <= 1.1) ? "meets" : "misses" }')"
else
  row "peak RSS, 10,000-frame recording (MiB)" "n/a" "<= 256 MiB" misses
  row "peak RSS, 10,000 / 1,000 frames" "n/a" "<= 1.1 x" misses
fi
echo "misses: $misses"
