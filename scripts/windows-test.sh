#!/usr/bin/env bash
# The Windows build, tested on this machine: cross-compiled with Debian's
# MinGW-w64 toolchain, packed into the installer (scripts/msi.sh) with the
# real 7-Zip engine for Windows (7z.dll, built once from Debian's source
# package of the engine and kept in build-windows/engine), installed under
# Wine with msiexec, tested as installed, then uninstalled: nothing of it may
# be left behind. The end-to-end tests are the Linux ones, started with
# RAZADEDEZUZEV_TEST_TARGET=windows: they run the .exe under Wine and expect
# Windows paths, separators, line ends and system texts, the results the
# Linux build gives for the same jobs. Tests that need POSIX-only means
# (rights as another user, FIFOs, links, preloaded fault libraries, FUSE)
# stay in the Linux suite.
#
# They run once per row of the table below, each row a root that the jobs
# name their paths from: drive Z:, a share in the \\server\share\ form, the
# same share in the \\?\UNC\ form, and the share with every path past 260
# characters. The share is the folder of a Samba share mounted through
# smbnetfs, as tests/shared starts it, or a local folder where that cannot
# run. On a share the tests also name a share that is not there.
#
#   scripts/windows-test.sh          (installs what is missing with apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build-windows"

scripts/setup.sh g++-mingw-w64-x86-64-posix wine64 samba smbnetfs
# The engine, the program (in $build) and the installer.
msi=$(scripts/msi.sh "$build" | tail -1)

# The tests themselves are Linux programs (the README's build, when there).
cmake -S . -B build -DRAZADEDEZUZEV_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)" --target modes_tests e2e_tests

# Wine: its own prefix under the build folder, its server kept alive for the
# whole run, and a UTF-8 locale so that non-ASCII arguments arrive intact.
# A fresh prefix each run: what the uninstaller leaves is then all to see.
export WINEDEBUG=-all WINEPREFIX="$build/wine-prefix" LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
# Wine hides files whose names begin with a dot, Windows does not.
"$wine" reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
/usr/lib/wine/wineserver -p || true  # (already running: fine)
servers=$(mktemp -d /tmp/razadedezuzev-windows-XXXXXX)
holder=""
stop() {
  [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
  python3 tests/shared/servers.py cleanup "$servers"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM

# The files of the prefix (but its users' own) and its whole registry, before
# the installer runs: after uninstalling they must be the same.
traces() {
  (cd "$WINEPREFIX" && find drive_c -path drive_c/users -prune -o -print | sort)
  for key in HKLM HKCU; do
    "$wine" reg export "$key" "Z:${servers//\//\\}\\$key.reg" /y >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$servers/$key.reg"
  done
}
before=$(traces)
"$wine" msiexec /i "Z:${msi//\//\\}" /qn
installed="$WINEPREFIX/drive_c/Program Files/razadedezuzev"
ls "$installed/razadedezuzev.exe" "$installed/7z.dll" "$installed/razadedezuzev.txt" >/dev/null

# The share: \\server\share is a link in the prefix (server and share in
# lower case) to the folder of the share.
python3 tests/shared/servers.py share "$servers" >"$servers/share.txt" 2>&1 &
holder=$!
for _ in $(seq 100); do [ -s "$servers/share.txt" ] && break; sleep 0.3; done
shared=$(head -1 "$servers/share.txt")
if [ ! -d "$shared" ]; then
  shared="$servers/local-share"
  mkdir -p "$shared"
  echo "the share maps a local folder: no Samba mount (${shared:+$(head -1 "$servers/share.txt")})"
fi
mkdir -p "$WINEPREFIX/dosdevices/unc/server"
ln -sfn "$shared" "$WINEPREFIX/dosdevices/unc/server/share"
long="$shared/$(printf 'a-folder-with-a-name-of-fifty-characters-%08d/' 1 2 3 4 5)"
mkdir -p "$long"

# name | folder of the scratch directories | "<folder>=<share>" it maps
rows=("drive Z:||"
  "\\\\server\\share|$shared|$shared=\\\\server\\share"
  "\\\\?\\UNC\\server\\share|$shared|$shared=\\\\?\\UNC\\server\\share"
  "paths past 260 characters|$long|$shared=\\\\server\\share")
failed=()
for row in "${rows[@]}"; do
  IFS='|' read -r name folder share <<<"$row"
  echo "=== $name"
  export RAZADEDEZUZEV_TEST_TARGET=windows RAZADEDEZUZEV_TEST_PROGRAM="$installed/razadedezuzev.exe"
  for tests in "build/modes_tests --gtest_filter=-*OnPosix*" \
               "build/e2e_tests --gtest_filter=DamagedEntries.*:JobFile.*"; do
    RAZADEDEZUZEV_TEST_SCRATCH="$folder" RAZADEDEZUZEV_TEST_SHARE="$share" $tests --gtest_brief=1 ||
      failed+=("$name: ${tests%% *}")
  done
done

"$wine" msiexec /x "Z:${msi//\//\\}" /qn
left=$(diff <(echo "$before") <(traces) | grep '^[<>]' || true)
if [ -n "$left" ]; then
  head -20 <<<"$left"
  failed+=("uninstalling left $(wc -l <<<"$left") changes in the prefix's files or registry")
fi
if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "Windows tests passed on ${#rows[@]} roots, with the installed program; uninstalled without a trace"
