#!/usr/bin/env bash
# The Windows build, tested on this machine: cross-compiled with Debian's
# MinGW-w64 toolchain and run under Wine with the real 7-Zip engine for
# Windows (7z.dll, built once from Debian's source package of the engine and
# kept in build-windows/engine). The end-to-end tests are the Linux ones,
# started with RAZADEDEZUZEV_TEST_TARGET=windows: they run the .exe under Wine
# and expect Windows paths, separators, line ends and system texts. Tests
# that need POSIX-only means (rights as another user, FIFOs, links, preloaded
# fault libraries, FUSE) stay in the Linux suite.
#
#   scripts/windows-test.sh          (installs what is missing with apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build-windows"

scripts/setup.sh g++-mingw-w64-x86-64-posix wine64
engine=$(scripts/windows-engine.sh "$build" | tail -1)

# (A configured build folder keeps its toolchain; CMake would call the option
# unused.)
cmake -S . -B "$build" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DRAZADEDEZUZEV_TESTS=OFF -DRAZADEDEZUZEV_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target razadedezuzev
cp "$engine" "$build/7z.dll"

# The tests themselves are Linux programs (the README's build, when there).
cmake -S . -B build -DRAZADEDEZUZEV_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)" --target modes_tests e2e_tests

# Wine: its own prefix under the build folder, its server kept alive for the
# whole run, and a UTF-8 locale so that non-ASCII arguments arrive intact.
export WINEDEBUG=-all WINEPREFIX="$build/wine-prefix" LC_ALL=C.UTF-8
# Wine hides files whose names begin with a dot, Windows does not.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
/usr/lib/wine/wineserver -p || true  # (already running: fine)
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

export RAZADEDEZUZEV_TEST_TARGET=windows RAZADEDEZUZEV_TEST_PROGRAM="$build/razadedezuzev.exe"
build/modes_tests --gtest_filter='-*OnPosix*'
build/e2e_tests --gtest_filter='DamagedEntries.*:JobFile.*'
