#!/usr/bin/env bash
# Long fuzzing campaigns:
#   fuzz/run_campaign.sh [--runs N | --seconds S] [--jobs J] [--merge] [target...]
# Each target runs until N executions (default 1,000,000) or for S seconds,
# at most J targets at a time (default 2: one per core of a 2-core machine).
# An archive may ask the engine for a dictionary of up to 4 GiB, which the
# engine reserves (docs/zip.md) and AddressSanitizer would spend seconds
# poisoning: the engine's allocations above 256 MiB fail instead, as under a
# limit of address space (the program's own would still be reported).
# Scratch files go to $TMPDIR (default /dev/shm: a memory file system spares
# the disk). Findings, logs and the grown corpora stay in build-fuzz/fuzz/;
# each target's executions, seconds and executions per second are printed,
# and crashes, hangs and leaks are reported at the end. --merge then
# minimises each target's repository corpus with what was found
# (libFuzzer's -merge=1).
set -euo pipefail
cd "$(dirname "$0")/.."
limit=(-runs=1000000)
jobs=2
merge=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) limit=(-runs="$2"); shift 2 ;;
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    *) targets+=("$1"); shift ;;
  esac
done
# The slowest first, so that it has a core of its own from the start.
[ ${#targets[@]} -gt 0 ] || targets=(zip_extract job_file zip_archive mode_run)
declare -A max_len=([job_file]=4096 [mode_run]=4096 [zip_archive]=16384 [zip_extract]=16384)

CXX=clang++ cmake -S . -B build-fuzz -DRAZADEDEZUZEV_FUZZ=ON -DRAZADEDEZUZEV_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null
export TMPDIR=${TMPDIR:-/dev/shm}
export RAZADEDEZUZEV_FUZZ_SAMPLE_ZIP="$PWD/fuzz/mode_run_sample.zip"
out=build-fuzz/fuzz
asan=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=256

campaign() {
  local target=$1 found="$out/found/$1" started=$SECONDS
  mkdir -p "$found"
  ASAN_OPTIONS=$asan build-fuzz/"$target" "${limit[@]}" -max_len="${max_len[$target]}" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$out/$target-" -print_final_stats=1 \
    "$found" "fuzz/corpus/$target" >"$out/$target.log" 2>&1 || true
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$target.log")
  local seconds=$((SECONDS - started))
  echo "$target: ${runs:-?} executions in ${seconds}s, $(( ${runs:-0} / (seconds > 0 ? seconds : 1) )) per second"
}

for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  campaign "$target" &
done
wait

if [ "$merge" = 1 ]; then
  for target in "${targets[@]}"; do
    fresh=$(mktemp -d)
    ASAN_OPTIONS=$asan build-fuzz/"$target" -merge=1 -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048 \
      "$fresh" "fuzz/corpus/$target" "$out/found/$target" >"$out/$target-merge.log" 2>&1
    rm -rf "fuzz/corpus/$target" && mv "$fresh" "fuzz/corpus/$target" && chmod 755 "fuzz/corpus/$target"
    echo "$target corpus: $(ls "fuzz/corpus/$target" | wc -l) files, $(du -sh "fuzz/corpus/$target" | cut -f1)"
  done
fi
if ls "$out"/*-crash-* "$out"/*-timeout-* "$out"/*-leak-* "$out"/*-oom-* 2>/dev/null; then exit 1; fi
echo "no crashes, hangs or leaks"
