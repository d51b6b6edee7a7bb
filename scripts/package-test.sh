#!/usr/bin/env bash
# CI: builds the Debian package (scripts/package.sh), checks it with lintian
# (an error fails the run), unpacks it with dpkg -x into a scratch root and
# runs the demonstration against the unpacked program, which must find the
# system's 7-Zip engine: every mode of it must exit with 0.
set -euo pipefail
cd "$(dirname "$0")/.."

# lintian, and what the package depends on at run time (dpkg -x installs nothing).
scripts/package.sh lintian man-db groff-base p7zip-full libssl3
debs=(build/package/razadedezuzev_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one package, found: ${debs[*]}"; exit 1; }
deb=${debs[0]}
dpkg-deb --info "$deb" | grep -E '^ (Version|Depends):'

echo "--- lintian $deb"
lintian --fail-on error --display-info "$deb"

root="$PWD/build/package/root"
rm -rf "$root" && mkdir -p "$root"
dpkg -x "$deb" "$root"
program="$root/usr/bin/razadedezuzev"
# The manual page renders, and without a single warning.
man -l "$root/usr/share/man/man1/razadedezuzev.1.gz" >/dev/null
warnings=$(zcat "$root/usr/share/man/man1/razadedezuzev.1.gz" | groff -ww -z -man 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; echo "the manual page has warnings"; exit 1; }

log=build/package/demo.log
RAZADEDEZUZEV_PROGRAM="$program" RAZADEDEZUZEV_DEMO_DIR="$PWD/build/package/demo" \
  scripts/demo.sh > "$log" 2>&1 || true
runs=$(grep -c '^--- exit code: ' "$log" || true)
passed=$(grep -c '^--- exit code: 0$' "$log" || true)
if [ "$runs" -ne 9 ] || [ "$passed" -ne 9 ]; then
  cat "$log"
  echo "package test FAILED: $passed of 9 modes exited with 0 ($runs ran), program $program"
  exit 1
fi
echo "package test passed: all 9 modes exited with 0, program $program (log: $log)"
