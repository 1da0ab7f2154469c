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

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzzing/*_fuzzer.cpp; do targets+=("$(basename "$src" .cpp)"); done
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

failed=()
for t in "${targets[@]}"; do
  bin=build/fuzz/fuzzing/$t
  work=build/fuzz/corpus/$t
  artifacts=build/fuzz/artifacts/$t
  mkdir -p "$work" "$artifacts"
  log=build/fuzz/$t.log
  echo "=== fuzz: $t for ${seconds} s (log: $log)"
  dict=()
  [ -f "fuzzing/dictionaries/$t.dict" ] && dict=(-dict="fuzzing/dictionaries/$t.dict")
  # shellcheck disable=SC2046
  "$bin" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$artifacts/" "$work" $(input_dirs "$t") >"$log" 2>&1
  status=$?
  grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log" | sed 's/^/    /'
  if [ $status -ne 0 ]; then
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
