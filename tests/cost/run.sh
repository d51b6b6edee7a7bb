#!/usr/bin/env bash
# The cost guards: every mode under counters (system calls, bytes, page
# faults, peak memory) against the bounds written in cost_guards.py.
# Usage: tests/cost/run.sh [--only NAME ...]   (data, about 2 GiB, goes to
# build/cost-data and is kept; RAZADEDEZUZEV_PROGRAM names another build).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh strace time
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
if [ -z "${RAZADEDEZUZEV_PROGRAM:-}" ]; then
  cmake -S . -B build >/dev/null
  cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null
fi
exec python3 tests/cost/cost_guards.py "$program" "$PWD/build/cost-data" "$@"
