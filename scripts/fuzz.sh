#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each for a bounded time with its seed corpus and its regression inputs.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60 s, every target)
# New inputs a run finds go to build/fuzz/corpus/<target>, failing inputs to
# build/fuzz/artifacts/<target>/. Exits non-zero when any target failed.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]" >&2
  exit 2
fi

targets=()
if [ $# -eq 0 ]; then
  for src in fuzzing/*_fuzzer.cpp; do targets+=("$(basename "$src" .cpp)"); done
else
  # A target named twice would run twice at once into one log and one status.
  mapfile -t targets < <(printf '%s\n' "$@" | awk '!seen[$0]++')
fi

echo "=== fuzz: configure and build ${targets[*]}"
cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}" || exit 1

# Inputs kept in the source tree: the seed corpus and every input that once failed.
input_dirs() {
  local t=$1
  for d in "fuzzing/corpus/$t" "fuzzing/regressions/$t"; do
    [ -d "$d" ] && echo "$d"
  done
}

# One target per core at a time: each is a single process, and the time per target stays the
# same however many run beside it. The fuzzers are this shell's own jobs (no subshell between),
# so their exit statuses are theirs and a stopped script can stop them.
declare -A target_of=() status_of=()
start_target() {
  local t=$1
  local bin=build/fuzz/fuzzing/$t work=build/fuzz/corpus/$t artifacts=build/fuzz/artifacts/$t
  mkdir -p "$work" "$artifacts"
  local dict=()
  [ -f "fuzzing/dictionaries/$t.dict" ] && dict=(-dict="fuzzing/dictionaries/$t.dict")
  echo "=== fuzz: $t for ${seconds} s (log: build/fuzz/$t.log)"
  # shellcheck disable=SC2046
  "$bin" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$artifacts/" "$work" $(input_dirs "$t") >"build/fuzz/$t.log" 2>&1 &
  target_of[$!]=$t
}
# Waits for one fuzzer to end and keeps its status.
reap_one() {
  local pid="" status=0
  wait -n -p pid "${!target_of[@]}" || status=$?
  [ -n "$pid" ] || return 1
  status_of[${target_of[$pid]}]=$status
  unset "target_of[$pid]"
}
stop_fuzzers() {
  [ ${#target_of[@]} -eq 0 ] || kill "${!target_of[@]}" 2>/dev/null
}
trap stop_fuzzers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
slots=$(nproc 2>/dev/null || echo 2)
for t in "${targets[@]}"; do
  while [ ${#target_of[@]} -ge "$slots" ]; do reap_one || break; done
  start_target "$t"
done
while [ ${#target_of[@]} -gt 0 ]; do reap_one || break; done

failed=()
for t in "${targets[@]}"; do
  log=build/fuzz/$t.log
  status=${status_of[$t]:-"none: it did not finish"}
  echo "=== fuzz: $t"
  grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log" | sed 's/^/    /'
  if [ "$status" != 0 ]; then
    echo "*** $t FAILED (exit $status):"
    grep -E 'ERROR|SUMMARY|Test unit written|deadly signal|out-of-memory|timeout' "$log" | head -20 | sed 's/^/    /'
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "=== fuzz: ${#failed[@]} target(s) failed: ${failed[*]}"
  exit 1
fi
echo "=== fuzz: every target ran clean"
