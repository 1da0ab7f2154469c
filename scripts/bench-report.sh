#!/usr/bin/env bash
# Builds the default preset's benchmark programs, runs each once and prints one table: every
# measured ratio against its baseline with its goal, zrfgrab export's time per format against
# the length of the recording it exports (its speeds beside export --zrf's in a table before),
# the peak memory of a 10,000-frame recording run, replay's first frame and peak memory for a
# 1 GB recording against a 10 MB one, and the device path's cost under Wine against Linux's.
# Before it, a table of 1 to 16 cameras streaming and recording at once in real time, and more
# while none loses a frame, beside the disk's direct-write bandwidth; and the recorder's figures
# on a file system that refuses direct writes (ramfs, when it can be mounted). Each row
# ends with "meets" or "misses" and, for a miss of a benchmark, the top entries of a profile;
# the last line counts the misses. It takes about ten minutes: not for CI.
# ZRF_BENCH_ARGS is passed to every benchmark program (e.g. --benchmark_min_time=0.05s).
# ZRF_BENCH_CAMERA_SECONDS sets how long each several-camera run records (default 60).
# ZRF_BENCH_DIR is where recordings are written (default /tmp): the file system measured.
set -uo pipefail
cd "$(dirname "$0")/.."
build=build/default
logs=$build/bench-report
mkdir -p "$logs"

echo "=== bench-report: configure and build (preset default)" >&2
{ cmake --preset default >/dev/null &&
  cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" \
    --target crc32_bench decode_bench capture_path_bench device_path_bench device_path_timing \
      stall_probe zrfgrab Vorn.CaptureDevice; } >&2 || exit 1
zrfgrab=$build/tools/zrfgrab/zrfgrab
work=$(mktemp -d "${ZRF_BENCH_DIR:-/tmp}/bench-report.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "    load before measuring: $(uptime)" >&2

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

# Peak resident memory (KiB) of a zrfgrab recording run of N frames, then what of it the
# recorder's queue of frames waiting for the disk holds (KiB: the most frames waiting at once,
# times a frame's record: a queue that keeps up writes its frames from the start of its memory
# over and over, so it touches no more of it); empty when it failed.
peak_rss_kib() {
  local frames=$1 file
  file=$(mktemp /tmp/bench-report.XXXXXX.zrec)
  /usr/bin/time -f '%M' -o "$logs/time-$frames.txt" \
    "$build/tools/zrfgrab/zrfgrab" grab --camera usb-ir --fast --frames "$frames" --record "$file" \
    --quiet --json >"$logs/grab-$frames.json" 2>"$logs/grab-$frames.log"
  local status=$?
  rm -f "$file"
  [ $status -eq 0 ] || return 0
  local waiting
  waiting=$(tr ',{}' '\n\n\n' <"$logs/grab-$frames.json" | awk '
    { gsub(/[" ]/, ""); split($0, f, ":") }
    f[1] == "recording_bytes" { bytes = f[2] }
    f[1] == "recording_frames" { n = f[2] }
    f[1] == "recording_most_waiting" { most = f[2] }
    END { printf "%d", (n > 0 ? most * bytes / n / 1024 : 0) }')
  echo "$(tail -n 1 "$logs/time-$frames.txt") $waiting"
}
# --- The recorder on a file system that refuses direct writes (ramfs): the fallback's figures.
fallback_why=""
fallback_dir=$(mktemp -d "$work/refusing.XXXXXX")
if mount -t ramfs ramfs "$fallback_dir" 2>/dev/null; then
  echo "=== bench-report: the recorder on ramfs, which refuses direct writes" >&2
  # shellcheck disable=SC2086
  ZRF_BENCH_DIR=$fallback_dir "$build/bench/device_path_bench" --benchmark_filter='BM_Recorder/' \
    ${ZRF_BENCH_ARGS:-} >"$logs/fallback.log" 2>&1 || fallback_why="it failed: see $logs/fallback.log"
  umount "$fallback_dir" 2>/dev/null
  grep '^ratio: recorder_' "$logs/fallback.log" | sed 's/^ratio: recorder_/fallback_/' >>"$ratios"
else
  fallback_why="ramfs cannot be mounted here (that takes root)"
fi

# --- The disk's direct-write bandwidth: a sequential direct write of 1 GB in 4 MiB blocks, in MB/s.
echo "=== bench-report: the disk's direct-write bandwidth (1 GB)" >&2
sync -f "$work" 2>/dev/null || sync
bandwidth=""
started=$(date +%s.%N)
if dd if=/dev/zero of="$work/bandwidth" bs=4M count=256 oflag=direct conv=fsync status=none \
    2>"$logs/bandwidth.log"; then
  bandwidth=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", 1073741824 / (b - a) / 1e6 }')
fi
rm -f "$work/bandwidth"

# zrfgrab export per format beside export --zrf, on a 150-frame recording of a 30 fps camera.
echo "=== bench-report: zrfgrab export per format" >&2
bash bench/export_speed.sh "$build/tools/zrfgrab/zrfgrab" "$logs/export-work" >"$logs/export_speed.log" 2>&1 ||
  echo "    export_speed failed; see $logs/export_speed.log" >&2
grep '^ratio: ' "$logs/export_speed.log" | sed 's/^ratio: //' >>"$ratios"

echo "=== bench-report: recording runs (1,000 and 10,000 frames)" >&2
rss_small=$(peak_rss_kib 1000)
rss_large=$(peak_rss_kib 10000)

# --- Several cameras at once: 1 to 16 usb-ir cameras at 30 fps in real time, all recording.
camera_seconds=${ZRF_BENCH_CAMERA_SECONDS:-60}
camera_fps=30
camera_counts=(1 2 4 8 16)
# The machine's CPU time so far: total, idle, waiting for I/O and stolen by a virtual machine's
# host (in clock ticks).
machine_ticks() { awk '$1 == "cpu" { print $2+$3+$4+$5+$6+$7+$8+$9, $5, $6, $9; exit }' /proc/stat; }
# One run of N cameras; prints "lost cpu-per-camera-% MB/s iowait-% busy-% dirty stolen-%
# longest-hold-ms peak-RSS-KiB queues-bytes waiting-bytes" or "failed" (the queues: the memory
# the recorders hold for frames waiting for the disk, at most; waiting: the most frames each had
# waiting at once, times its record, summed). Beside it a probe thread asks for the processor every 5 ms: its
# longest wait is how long the machine held up every thread.
several_cameras() {
  local n=$1 dir args=() i before after status probe
  dir=$(mktemp -d "$work/cameras.XXXXXX")
  for ((i = 0; i < n; i++)); do args+=(--camera usb-ir); done
  # What earlier rows and stages wrote goes to the disk first: a row is not charged with
  # another's writeback.
  sync -f "$work" 2>/dev/null || sync
  "$build/bench/stall_probe" "$camera_seconds" >"$logs/cameras-$n.probe" 2>&1 &
  probe=$!
  before=$(machine_ticks)
  /usr/bin/time -f '%e %U %S %M' -o "$logs/cameras-$n.time" "$zrfgrab" grab "${args[@]}" \
    --seconds "$camera_seconds" --record "$dir/run.zrec" --json --quiet \
    >"$logs/cameras-$n.json" 2>"$logs/cameras-$n.log"
  status=$?
  after=$(machine_ticks)
  wait "$probe"  # a probe that failed leaves its figure "n/a", not the cameras' run failed
  # Dirty pages at the kernel's limit: writers were held back until the disk took them.
  dirty=$(awk '$1 == "nr_dirty" { d = $2 } $1 == "nr_dirty_threshold" { t = $2 }
    END { print (t > 0 && d >= 0.8 * t) ? 1 : 0 }' /proc/vmstat 2>/dev/null)
  rm -rf "$dir"
  if [ $status -ne 0 ]; then
    echo failed
    return
  fi
  # Lost: what a camera dropped because its thread came back too late (it keeps its rhythm),
  # what the plug-in could not make an image of, and what the recorder could not write.
  tr ',{}[]' '\n\n\n\n\n' <"$logs/cameras-$n.json" |
    awk -v n="$n" -v s="$camera_seconds" \
      -v time="$(cat "$logs/cameras-$n.time")" -v before="$before" -v after="$after" \
      -v dirty="${dirty:-0}" -v probe="$(cat "$logs/cameras-$n.probe")" '
      { gsub(/[" ]/, "") }
      /^camera_dropped:/ { split($0, f, ":"); lost += f[2] }
      /^lost:/ { split($0, f, ":"); lost += f[2] }
      /^recording_dropped:/ { split($0, f, ":"); lost += f[2] }
      /^recording_bytes:/ { split($0, f, ":"); bytes += f[2]; cameraBytes = f[2] }
      /^recording_frames:/ { split($0, f, ":"); cameraFrames = f[2] }
      /^recording_most_waiting:/ { split($0, f, ":"); if (cameraFrames > 0) waiting += f[2] * cameraBytes / cameraFrames }
      /^recording_queue_bytes:/ { split($0, f, ":"); queues += f[2] }
      END {
        split(time, t, " "); split(before, b, " "); split(after, a, " ")
        total = a[1] - b[1]; idle = a[2] - b[2]; io = a[3] - b[3]; stolen = a[4] - b[4]
        if (total <= 0) total = 1
        hold = split(probe, p, " ") >= 2 && p[1] == "longest_ms" ? sprintf("%.0f", p[2]) : "n/a"
        printf "%d %.1f %.1f %.1f %.1f %d %.1f %s %d %.0f %.0f\n", lost, (t[2] + t[3]) / t[1] / n * 100, bytes / 1e6 / s, io / total * 100, (total - idle - io - stolen) / total * 100, dirty, stolen / total * 100, hold, t[4], queues, waiting
      }'
}
declare -A camera_result
for n in "${camera_counts[@]}"; do
  echo "=== bench-report: $n camera(s) recording for $camera_seconds s" >&2
  camera_result[$n]=$(several_cameras "$n")
done
# Past 16, 8 cameras more at a time while every frame was kept, until their bytes come to 90 %
# of the disk's direct-write bandwidth (or 128 cameras).
n=${camera_counts[-1]}
while [ "$(echo "${camera_result[$n]}" | cut -d' ' -f1)" = 0 ] && [ -n "$bandwidth" ] && [ "$n" -lt 128 ] &&
    awk -v mbps="$(echo "${camera_result[$n]}" | cut -d' ' -f3)" -v b="$bandwidth" 'BEGIN { exit !(mbps < 0.9 * b) }'; do
  n=$((n + 8))
  camera_counts+=("$n")
  echo "=== bench-report: $n cameras recording for $camera_seconds s" >&2
  camera_result[$n]=$(several_cameras "$n")
done

# --- Replay: the first frame of a 1 GB recording against a 10 MB one, and peak memory.
echo "=== bench-report: replay of a 10 MB and a 1 GB recording" >&2
small=$work/small.zrec
large=$work/large.zrec
"$zrfgrab" grab --camera usb-ir --fast --frames 17 --record "$small" --quiet >"$logs/replay-make.log" 2>&1
"$zrfgrab" grab --camera usb-ir --fast --frames 1740 --record "$large" --quiet >>"$logs/replay-make.log" 2>&1
# The time (ns) a replay of one frame takes, process start to end, and its peak RSS (KiB), for
# both recordings in turns (a change of the machine's pace falls on both): the medians of 7 runs
# each, as "small-ns small-kib large-ns large-kib".
replay_one() {  # replay_one RECORDING: prints "ns kib"
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$logs/replay.time" "$zrfgrab" replay "$1" --frames 1 --fast --quiet \
    >/dev/null 2>>"$logs/replay.log" || return 1
  t1=$(date +%s%N)
  echo "$((t1 - t0)) $(tail -n 1 "$logs/replay.time")"
}
replay_first_frames() {
  local i
  [ -s "$small" ] && [ -s "$large" ] || return
  : >"$logs/replay-small.txt"
  : >"$logs/replay-large.txt"
  for i in 1 2 3 4 5 6 7; do
    replay_one "$small" >>"$logs/replay-small.txt" || return
    replay_one "$large" >>"$logs/replay-large.txt" || return
  done
  for f in "$logs/replay-small.txt" "$logs/replay-large.txt"; do
    echo "$(sort -n -k1,1 "$f" | sed -n 4p | cut -d' ' -f1) $(sort -n -k2,2 "$f" | sed -n 4p | cut -d' ' -f2)"
  done | tr '\n' ' '
}
read -r replay_small_ns replay_small_kib replay_large_ns replay_large_kib <<<"$(replay_first_frames)"
rm -f "$small" "$large"

# --- The device path under Wine against Linux, in this run: the same timing program.
echo "=== bench-report: the device path, Linux build and Windows build under Wine" >&2
timing_ns() { awk '$1 == "device_path_ns_per_image:" { print $2 }'; }
linux_timing() {
  ZRF_PLUGIN="$build/plugin/Vorn.CaptureDevice.so" "$build/tests/windows/device_path_timing" usb-ir 5 3000 2>&1 |
    tee -a "$logs/timing-linux.log" | timing_ns
}
# The median of the figures; nothing when fewer than three came.
median_of() { sort -n | awk '{ v[++n] = $1 } END { if (n >= 3) print v[int((n + 1) / 2)] }'; }
: >"$logs/timing-linux.log"
: >"$logs/timing-wine.log"
linux_ns=""
wine_ns=""
wine_why=""
if ! command -v wine >/dev/null; then
  wine_why="Wine is not installed (bash scripts/setup.sh wine64 wine)"
elif ! scripts/windows-deps.sh >"$logs/windows-deps.log" 2>&1; then
  wine_why="no cross-built pugixml and libpng (scripts/windows-deps.sh; $logs/windows-deps.log)"
elif ! { cmake --preset windows && cmake --build --preset windows -j "$(nproc 2>/dev/null || echo 2)" \
    --target device_path_timing zrfgrab zrf_simcam; } >"$logs/windows-build.log" 2>&1; then
  wine_why="the windows preset did not build ($logs/windows-build.log)"
else
  # Both builds in turns, five runs each, and the medians: a change of the machine's pace
  # between two runs falls on both (with three, one slow Linux run in three moved the ratio
  # by a fifth).
  : >"$logs/timing-linux.txt"
  : >"$logs/timing-wine.txt"
  wine_timing() {
    bash scripts/windows-run.sh device_path_timing usb-ir 5 3000 2>&1 | tee -a "$logs/timing-wine.log" |
      timing_ns
  }
  # Each goes first in every other pair.
  for i in 1 2 3 4 5; do
    if [ $((i % 2)) -eq 1 ]; then
      linux_timing >>"$logs/timing-linux.txt"
      wine_timing >>"$logs/timing-wine.txt"
    else
      wine_timing >>"$logs/timing-wine.txt"
      linux_timing >>"$logs/timing-linux.txt"
    fi
  done
  wine_ns=$(median_of <"$logs/timing-wine.txt")
  linux_ns=$(median_of <"$logs/timing-linux.txt")
  [ -n "$wine_ns" ] || wine_why="the timing program failed under Wine ($logs/timing-wine.log)"
  [ -n "$linux_ns" ] || wine_why="${wine_why:+$wine_why; }the Linux timing program failed ($logs/timing-linux.log)"
  # zrfgrab grab --fast in both builds, taking turns, five runs each: the median rates of the
  # runs that succeeded (at least three of each).
  fps_of() { sed -n 's/.*"fps": \([0-9.]*\).*/\1/p'; }
  : >"$logs/grab-fast-linux.txt"
  : >"$logs/grab-fast-wine.txt"
  : >"$logs/grab-fast.log"
  for _ in 1 2 3 4 5; do
    if out=$("$build/tools/zrfgrab/zrfgrab" grab --fast --frames 3000 --json --quiet 2>>"$logs/grab-fast.log"); then
      fps_of <<<"$out" >>"$logs/grab-fast-linux.txt"
    fi
    if out=$(bash scripts/windows-run.sh zrfgrab grab --fast --frames 3000 --json --quiet 2>>"$logs/grab-fast.log"); then
      fps_of <<<"$out" >>"$logs/grab-fast-wine.txt"
    fi
  done
  median() {
    sort -n "$1" | awk '$1 > 0 { v[++n] = $1 } END { if (n >= 3) print v[int((n + 1) / 2)] }'
  }
  linux_fps=$(median "$logs/grab-fast-linux.txt")
  wine_fps=$(median "$logs/grab-fast-wine.txt")
  if [ -n "$linux_fps" ] && [ -n "$wine_fps" ]; then
    echo "wine_grab_fast_vs_linux $(awk -v l="$linux_fps" -v w="$wine_fps" 'BEGIN { printf "%.4f", l / w }')" \
      >>"$ratios"
  fi
fi
if [ -n "$wine_ns" ] && [ -n "$linux_ns" ]; then
  echo "wine_device_path_vs_linux $(awk -v w="$wine_ns" -v l="$linux_ns" 'BEGIN { printf "%.4f", w / l }')" \
    >>"$ratios"
fi
echo "    load after measuring: $(uptime)" >&2

misses=0
row() {  # label, value text, goal text, verdict
  printf '%-62s %12s   %-14s %s\n' "$1" "$2" "$3" "$4"
  [ "$4" = meets ] || misses=$((misses + 1))
}
# The benchmark that measures a key's path: "PROGRAM FILTER".
bench_of() {
  local f
  case $1 in
    device_path_*) f=${1#device_path_}; echo "device_path_bench BM_Device/${f%%_vs_*}/idle" ;;
    recorder_*) f=${1#recorder_}; echo "device_path_bench BM_Recorder/${f%%_*}" ;;
    capture_path_*) echo "capture_path_bench BM_CapturePath/${1#capture_path_}" ;;
    usb_raw_swapped_vs_memcpy) echo "decode_bench BM_UsbRawSwapped" ;;
    usb_raw_vs_memcpy) echo "decode_bench BM_UsbRaw\$" ;;
    ieee1394_vs_memcpy) echo "decode_bench BM_Ieee1394" ;;
    jpegls_vs_bare_decode) echo "decode_bench BM_JpegLsPath" ;;
    copy_placement_*) f=${1#copy_placement_}; echo "decode_bench BM_CopyPlacement/${f%%_vs_*}" ;;
    crc32_vs_zlib) echo "crc32_bench BM_Crc32Ours" ;;
  esac
}
# What a missed goal's time goes to: the top entries of a profile of its benchmark.
profile() {
  local program filter data=$logs/perf-$1.data
  read -r program filter <<<"$(bench_of "$1")"
  [ -n "$program" ] || return 0
  if ! command -v perf >/dev/null; then
    echo "      (no profile: perf is not installed)"
    return 0
  fi
  if ! perf record -q -o "$data" -- "$build/bench/$program" --benchmark_filter="$filter" \
      --benchmark_min_time=0.2 >/dev/null 2>&1; then
    echo "      (no profile: perf record failed)"
    return 0
  fi
  echo "      profile of $program $filter:"
  perf report -q -i "$data" --stdio --no-children --sort dso,symbol 2>/dev/null |
    grep -v '^ *$' | head -n 8 | sed -e 's/ *-  *- *$//' -e 's/  *$//' -e 's/^ */        /' | cut -c1-120
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
  [ "$verdict" = meets ] || profile "$2"
}

echo
printf '%-44s %12s   %s\n' "zrfgrab export, 30 fps recording" "frames/s" "time / export --zrf's"
awk '$1 == "speed:" { printf "%-44s %12s   %s x\n", "export " $2, $3, $4 }' "$logs/export_speed.log"

echo
echo "usb-ir cameras at $camera_fps fps, all recording for $camera_seconds s to ${ZRF_BENCH_DIR:-/tmp} ($(nproc 2>/dev/null) cores)"
printf '%8s %12s %15s %11s %9s %9s %9s %13s %10s %10s   %s\n' cameras "frames lost" "CPU per camera" "disk MB/s" "I/O wait" "CPU busy" "stolen" "longest hold" "peak MiB" "queues MiB" "limit"
first_losing=""
largest_lossless=0
largest_mbps=0
largest_busy=0
declare -A camera_limit
for n in "${camera_counts[@]}"; do
  read -r lost cpu mbps wait busy dirty stolen hold rss queues waiting <<<"${camera_result[$n]}"
  if [ "$lost" = failed ] || [ -z "$lost" ]; then
    printf '%8s %12s   (failed: see %s)\n' "$n" "n/a" "$logs/cameras-$n.log"
    continue
  fi
  limit=-
  if [ "$lost" -gt 0 ]; then
    [ -n "$first_losing" ] || first_losing=$n
    # A camera loses frames once its thread is held up two frame intervals: when the probe
    # was held up that long too, every thread was (the host of a virtual machine, the kernel).
    # Else, frames lost with the processors not busy: the streaming threads waited for the
    # disk. (Writers held back by the dirty-page limit sleep: that is not counted as I/O wait.)
    limit=$(awk -v b="$busy" -v w="$wait" -v d="$dirty" -v h="$hold" -v fps="$camera_fps" 'BEGIN {
      print (b >= 85) ? "CPU" : (h != "n/a" && h + 0 >= 2000 / fps) ? "the machine held every thread up" : (d == 1) ? "disk (dirty pages at the limit)" : (w >= 5) ? "disk (I/O wait)" : "neither CPU nor disk" }')
  fi
  camera_limit[$n]="$limit (longest hold $hold ms, stolen $stolen %)"
  printf '%8s %12s %14s%% %11s %8s%% %8s%% %8s%% %10s ms %10s %10s   %s\n' "$n" "$lost" "$cpu" "$mbps" "$wait" "$busy" "$stolen" "$hold" \
    "$(awk -v k="$rss" 'BEGIN { printf "%.0f", k / 1024 }')" "$(awk -v q="$queues" 'BEGIN { printf "%.0f", q / 1048576 }')" "$limit"
  [ "$lost" = 0 ] && largest_lossless=$n && largest_mbps=$mbps && largest_busy=$busy
done
echo "first count that loses frames: ${first_losing:-none up to ${camera_counts[-1]}}"

echo
printf '%-62s %12s   %-14s %s\n' "measure (against its baseline)" "ratio" "goal" "verdict"
ratio_row "CRC-32 / zlib crc32" crc32_vs_zlib 1.0
ratio_row "USB raw decode / memcpy of the frame" usb_raw_vs_memcpy 1.5
ratio_row "USB raw, swapped pixels / memcpy" usb_raw_swapped_vs_memcpy 1.5
ratio_row "IEEE-1394 decode / memcpy of the frame" ieee1394_vs_memcpy 1.5
ratio_row "JPEG-LS path / bare CharLS decode" jpegls_vs_bare_decode 1.05
ratio_row "frame copy 1-63 bytes past a page / page to page: 320x240" copy_placement_153600_vs_aligned 1.5
ratio_row "frame copy 1-63 bytes past a page / page to page: 640x480 field" copy_placement_309788_vs_aligned 1.5
ratio_row "capture path / decode alone: USB raw" capture_path_UsbRaw 1.05
ratio_row "capture path / decode alone: USB JPEG-LS" capture_path_UsbJpegLs 1.05
ratio_row "capture path / decode alone: IEEE-1394" capture_path_Ieee1394 1.05
ratio_row "capture path / decode alone: YUY2" capture_path_Yuy2 1.05
for f in UsbRaw Ieee1394 Ieee1394x2 Ieee1394x4 Yuy2 Mjpg; do
  ratio_row "device path / memcpy of the image: $f" "device_path_${f}_vs_memcpy" 1.5
done
ratio_row "device path / bare decode: UsbJpegLs" device_path_UsbJpegLs_vs_bare_decode 1.05
# The recorder writes around the page cache: against a plain buffered write of the same bytes,
# its CPU time, and its wall time until the bytes are on the disk (the plain write's fdatasync
# included). Beside it, as figures, the wall time against the plain write returning with its
# bytes only in the page cache, and the fallback's figures where direct writes are refused.
value_of() { awk -v k="$1" '$1 == k { v = $2 } END { print (v != "") ? sprintf("%.3f x", v) : "n/a" }' "$ratios"; }
for f in UsbRaw UsbJpegLs Ieee1394 Ieee1394x2 Ieee1394x4; do
  ratio_row "recorder / plain write, CPU time: $f" "recorder_${f}_vs_write" 0.8
  ratio_row "recorder / plain write + fdatasync, wall time: $f" "recorder_${f}_wall_vs_write" 1.1
  printf '%-62s %12s   %s\n' "  (wall time / the page-cache write's: $f)" "$(value_of "recorder_${f}_wall_vs_cached_write")" "figure"
done
if [ -z "$fallback_why" ]; then
  for f in UsbRaw Ieee1394x4; do
    printf '%-62s %12s   %s\n' "  (ramfs, refusing direct writes: CPU / plain write: $f)" "$(value_of "fallback_${f}_vs_write")" "figure"
    printf '%-62s %12s   %s\n' "  (ramfs, refusing direct writes: wall / plain write: $f)" "$(value_of "fallback_${f}_wall_vs_cached_write")" "figure"
  done
else
  echo "      (the recorder where direct writes are refused: not run: $fallback_why)"
fi
# Every export of a 30 fps recording takes less time than the recording lasted.
for kind in zrf tiff_stack tiff_files png16 csv video; do
  ratio_row "export $kind / the recording's length" "export_${kind}_vs_length" 1.0
done
# The recording run streams to disk: its memory must not grow with the number of frames. The
# frames waiting for the disk are bounded by the recorder's queue, and how many a run had
# depends on how the disk kept up in it: the growth compares what is left beside them.
read -r rss_large waiting_large <<<"$rss_large"
read -r rss_small waiting_small <<<"$rss_small"
if [ -n "$rss_large" ] && [ -n "$rss_small" ]; then
  mib=$(awk -v k="$rss_large" 'BEGIN { printf "%.1f", k / 1024 }')
  row "peak RSS, 10,000-frame recording (MiB)" "$mib" "<= 256 MiB" \
    "$(awk -v k="$rss_large" 'BEGIN { print (k <= 256 * 1024) ? "meets" : "misses" }')"
  # What is left of the short run must be more than nothing, or the ratio says nothing.
  growth=$(awk -v a="$rss_large" -v wa="$waiting_large" -v b="$rss_small" -v wb="$waiting_small" \
    'BEGIN { if (b - wb > 0 && a - wa > 0) printf "%.3f", (a - wa) / (b - wb); else print "n/a" }')
  row "peak RSS beside frames waiting, 10,000 / 1,000 frames" "$growth x" "<= 1.1 x" \
    "$(awk -v g="$growth" 'BEGIN { print (g != "n/a" && g + 0 <= 1.1) ? "meets" : "misses" }')"
  awk -v a="$rss_large" -v wa="$waiting_large" -v b="$rss_small" -v wb="$waiting_small" \
    'BEGIN { printf "      (peak %.1f and %.1f MiB, of which frames waiting for the disk %.1f and %.1f MiB)\n", a / 1024, b / 1024, wa / 1024, wb / 1024 }'
else
  row "peak RSS, 10,000-frame recording (MiB)" "n/a" "<= 256 MiB" misses
  row "peak RSS beside frames waiting, 10,000 / 1,000 frames" "n/a" "<= 1.1 x" misses
fi
# The recording runs that many cameras at once keep up with, in real time.
eight=$(echo "${camera_result[8]:-}" | cut -d' ' -f1)
row "8 cameras at 30 fps recording: frames lost" "${eight:-n/a}" "0" \
  "$([ "$eight" = 0 ] && echo meets || echo misses)"
[ "${eight:-n/a}" = 0 ] || echo "      (limit: ${camera_limit[8]:-none measured})"
# How many cameras record at once with every frame kept, against the disk's bandwidth.
sixteen=$(echo "${camera_result[16]:-}" | cut -d' ' -f1)
row "16 cameras at 30 fps recording: frames lost" "${sixteen:-n/a}" "0" \
  "$([ "$sixteen" = 0 ] && echo meets || echo misses)"
[ "${sixteen:-n/a}" = 0 ] || echo "      (limit: ${camera_limit[16]:-none measured})"
printf '%-62s %12s   %s\n' "disk's direct-write bandwidth, 1 GB in 4 MiB blocks (MB/s)" "${bandwidth:-n/a}" "figure"
if [ -n "$bandwidth" ]; then
  share=$(awk -v m="$largest_mbps" -v b="$bandwidth" 'BEGIN { printf "%.0f", m / b * 100 }')
  row "most cameras with 0 frames lost: $largest_lossless ($largest_mbps MB/s)" "$share %" ">= 90 %" \
    "$(awk -v s="$share" 'BEGIN { print (s >= 90) ? "meets" : "misses" }')"
  if [ -n "$first_losing" ]; then
    echo "      (at $first_losing cameras: ${camera_limit[$first_losing]}; $largest_lossless cameras with the processors $largest_busy % busy: $(awk -v c="$largest_lossless" -v p="$(nproc 2>/dev/null || echo 2)" 'BEGIN { printf "%.1f", c / p }') cameras per core)"
  fi
else
  row "most cameras with 0 frames lost against the disk's bandwidth" "n/a" ">= 90 %" misses
  echo "      (the bandwidth could not be measured: see $logs/bandwidth.log)"
fi
# Memory with 16 cameras recording: the recorders' queues are bounded, named apart.
read -r _ _ _ _ _ _ _ _ rss16 queues16 waiting16 <<<"${camera_result[16]:-}"
if [ -n "${rss16:-}" ] && [ -n "${queues16:-}" ]; then
  mib=$(awk -v k="$rss16" 'BEGIN { printf "%.0f", k / 1024 }')
  bound=$(awk -v q="$queues16" 'BEGIN { printf "%.0f", q / 1048576 + 16 * 32 }')
  row "peak RSS, 16 cameras recording (MiB)" "$mib" "<= $bound MiB" \
    "$(awk -v m="$mib" -v b="$bound" 'BEGIN { print (m <= b) ? "meets" : "misses" }')"
  awk -v q="$queues16" -v w="$waiting16" 'BEGIN { printf "      (the goal: the recorders'"'"' queues, %.0f MiB at most (%.1f MiB each), and 32 MiB a camera beside them; the queues touched about %.0f MiB: the most frames waiting)\n", q / 1048576, q / 16 / 1048576, w / 1048576 }'
else
  row "peak RSS, 16 cameras recording (MiB)" "n/a" "bounded" misses
fi
# Replay reads as it plays: the first frame does not wait for the whole recording, and memory
# does not grow with it.
if [ -n "$replay_small_ns" ] && [ -n "$replay_large_ns" ]; then
  ratio=$(awk -v a="$replay_large_ns" -v b="$replay_small_ns" 'BEGIN { printf "%.3f", a / b }')
  row "replay first frame, 1 GB / 10 MB recording" "$ratio x" "<= 1.2 x" \
    "$(awk -v r="$ratio" 'BEGIN { print (r <= 1.2) ? "meets" : "misses" }')"
  echo "      (one-frame replay, start to end: $((replay_small_ns / 1000000)) ms and $((replay_large_ns / 1000000)) ms)"
  ratio=$(awk -v a="$replay_large_kib" -v b="$replay_small_kib" 'BEGIN { printf "%.3f", a / b }')
  row "replay peak RSS, 1 GB / 10 MB recording" "$ratio x" "<= 1.1 x" \
    "$(awk -v r="$ratio" 'BEGIN { print (r <= 1.1) ? "meets" : "misses" }')"
  echo "      (peak RSS: $replay_small_kib KiB and $replay_large_kib KiB)"
else
  row "replay first frame, 1 GB / 10 MB recording" "n/a" "<= 1.2 x" misses
  row "replay peak RSS, 1 GB / 10 MB recording" "n/a" "<= 1.1 x" misses
fi
if [ -n "$wine_why" ]; then
  row "device path, Windows build under Wine / Linux" "n/a" "<= 1.2 x" misses
  echo "      (not run: $wine_why)"
else
  ratio_row "device path, Windows build under Wine / Linux" wine_device_path_vs_linux 1.2
  echo "      (CPU time per image, medians of five runs each, in turns: Linux $linux_ns ns, Wine $wine_ns ns)"
  ratio_row "zrfgrab grab --fast, Linux rate / Wine rate" wine_grab_fast_vs_linux 1.5
  echo "      (median frames/s of five runs each: Linux ${linux_fps:-n/a}, Wine ${wine_fps:-n/a})"
  if awk -v w="$wine_ns" -v l="$linux_ns" 'BEGIN { exit !(w > 1.2 * l) }' && command -v perf >/dev/null &&
      perf record -q -o "$logs/perf-wine.data" -- bash scripts/windows-run.sh device_path_timing usb-ir 3 300 \
        >/dev/null 2>&1; then
    echo "      profile of the Windows program under Wine, by library (Windows code shows as JIT):"
    perf report -q -i "$logs/perf-wine.data" --stdio --no-children --comms device_path_tim --sort dso \
      2>/dev/null | grep -v '^ *$' | head -n 8 | sed -e 's/  *$//' -e 's/^ */        /'
  fi
fi
echo "misses: $misses"
