#!/usr/bin/env bash
# A longer fuzzing campaign of every target: fuzz/run_campaign.sh [seconds per target]
# Findings and the grown corpora stay in build-fuzz/; crashes are reported at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
CXX=clang++ cmake -S . -B build-fuzz -DRAZADEDEZUZEV_FUZZ=ON -DRAZADEDEZUZEV_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null
export RAZADEDEZUZEV_FUZZ_SAMPLE_ZIP="$PWD/fuzz/corpus/zip_archive/mixed.zip"
declare -A max_len=([job_file]=4096 [mode_run]=4096 [zip_archive]=65536)
for target in job_file mode_run zip_archive; do
  found="build-fuzz/fuzz/found/$target"
  mkdir -p "$found"
  echo "== $target for ${seconds}s"
  build-fuzz/$target -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="build-fuzz/fuzz/$target-" -print_final_stats=1 \
    "$found" "fuzz/corpus/$target" 2>&1 | grep -E '^stat::number_of_executed_units|^Done|ERROR|SUMMARY' || true
done
ls build-fuzz/fuzz/*-crash-* build-fuzz/fuzz/*-timeout-* 2>/dev/null && exit 1
echo "no crashes, no timeouts"
