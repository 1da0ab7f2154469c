#!/usr/bin/env bash
# zrfgrab export's speed per format, beside that of export --zrf, measured in one run on one
# recording of a 30 fps camera. Prints "speed: OPTION FPS TIME_VS_ZRF" and, for scripts/
# bench-report.sh, "ratio: export_KIND_vs_length SECONDS_PER_RECORDED_SECOND" for each format.
# usage: export_speed.sh ZRFGRAB WORKDIR [FRAMES]
set -uo pipefail
zrfgrab=$1 work=$2 frames=${3:-150}
rm -rf "$work" && mkdir -p "$work" || exit 1
rec=$work/r.zrec
# Paced, so that the stamps are the camera's: the recording lasts frames / rate seconds.
"$zrfgrab" grab --camera usb-ir --frames "$frames" --quiet --seed 3 --record "$rec" >/dev/null || exit 1
rate=$("$zrfgrab" info "$rec" | awk '$1 == "frame" && $2 == "rate" { print $3 }')
[ -n "$rate" ] || { echo "export_speed: no frame rate in the recording" >&2; exit 1; }
length=$(awk -v n="$frames" -v r="$rate" 'BEGIN { print n / r }')

seconds() {  # the time one export takes
  local start end
  rm -rf "$work/out" "$work/out.tif" "$work/out.mkv"
  start=$EPOCHREALTIME
  "$zrfgrab" export "$rec" "$@" >/dev/null || return 1
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }'
}

seconds --zrf "$work/out" >/dev/null || exit 1  # the recording read once before timing
zrf=
for kind in zrf tiff_stack tiff_files png16 csv video; do
  case $kind in
    zrf) args=(--zrf "$work/out") ;;
    tiff_stack) args=(--tiff "$work/out.tif") ;;
    tiff_files) args=(--tiff "$work/out") ;;
    png16) args=(--png16 "$work/out") ;;
    csv) args=(--csv "$work/out") ;;
    video) args=(--video "$work/out.mkv") ;;
  esac
  t=$(seconds "${args[@]}") || { echo "export_speed: export ${args[0]} failed" >&2; continue; }
  [ -n "$zrf" ] || zrf=$t
  awk -v k="$kind" -v t="$t" -v z="$zrf" -v n="$frames" -v l="$length" 'BEGIN {
    printf "speed: %s %.1f %.2f\n", k, n / t, t / z
    printf "ratio: export_%s_vs_length %.4f\n", k, t / l }'
done
rm -rf "$work"
