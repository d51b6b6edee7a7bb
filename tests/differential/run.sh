#!/usr/bin/env bash
# The program against other tools on real data: every zip-format file of
# this machine and archives made with every method (zips.py), /usr and a
# tree of awkward names (trees.py). Prints one summary line per part and
# fails when anything differs that docs/zip.md does not explain.
#   tests/differential/run.sh [zips|trees]...
set -euo pipefail
cd "$(dirname "$0")/../.."

# Packages that ship zip-format files of many makers: jars, wheels, an
# office document, e-books. Fixed, so that every run reads the same kinds.
packages=(default-jre-headless libcommons-lang3-java libcommons-io-java libcommons-collections4-java
          libcommons-compress-java libcommons-codec-java libcommons-text-java epubcheck
          python3-pip-whl python3-setuptools-whl python3-wheel-whl python3-docx python3-docutils
          live-manual-epub diffutils findutils)
scripts/setup.sh "${packages[@]}"
[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(zips trees)
# On the root file system, as the callers' stores are; removed at the end.
scratch=$(mktemp -d /var/tmp/razadedezuzev-differential.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
status=0
for part in "${parts[@]}"; do
  python3 tests/differential/"$part".py build/razadedezuzev "$scratch/$part" || status=1
done
exit $status
