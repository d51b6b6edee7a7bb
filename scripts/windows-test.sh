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
# characters. The share maps a local folder (see below why not the Samba
# share of tests/shared). On a share the tests also name a share that is not
# there.
#
#   scripts/windows-test.sh          (installs what is missing with apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build-windows"

scripts/setup.sh g++-mingw-w64-x86-64-posix wine64
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
scratch=$(mktemp -d /tmp/razadedezuzev-windows-XXXXXX)
stop() {
  rm -rf "$scratch"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM

# The files of the prefix (but its users' own and the installer's cache
# folder, which the first installation makes) and every registry line that
# names the program, its folder or its upgrade code, before the installer
# runs: after uninstalling they must be the same.
traces() {
  (cd "$WINEPREFIX" && find drive_c -path drive_c/users -prune -o -print | grep -vx drive_c/windows/Installer | sort)
  for key in HKLM HKCU; do
    "$wine" reg export "$key" "Z:${scratch//\//\\}\\$key.reg" /y >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$scratch/$key.reg" | grep -i 'razadedezuzev\|D0879045108C86940852AF9AD6F9BEB0' || true
  done
}
before=$(traces)
"$wine" msiexec /i "Z:${msi//\//\\}" /qn
installed="$WINEPREFIX/drive_c/Program Files/razadedezuzev"
ls "$installed/razadedezuzev.exe" "$installed/7z.dll" "$installed/razadedezuzev.txt" >/dev/null

# The share: \\server\share is a link in the prefix (server and share in
# lower case) to a folder. Not to the Samba share of tests/shared: through
# its smbnetfs mount Wine cannot rename without replacing (the mount has
# neither RENAME_NOREPLACE nor hard links), so no file could be published.
echo "the share \\\\server\\share maps a local folder: Wine cannot publish files on the smbnetfs mount"
shared="$scratch/share"
mkdir -p "$shared"
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
    # Under Wine one run of several hundred once ended with exit code 1 (a
    # refused command line) and passed when run again; not understood yet.
    # A failed set runs once more, and fails the row only if it fails again.
    RAZADEDEZUZEV_TEST_SCRATCH="$folder" RAZADEDEZUZEV_TEST_SHARE="$share" $tests --gtest_brief=1 ||
      { echo "--- $name: ${tests%% *} failed; once more"
        RAZADEDEZUZEV_TEST_SCRATCH="$folder" RAZADEDEZUZEV_TEST_SHARE="$share" $tests --gtest_brief=1; } ||
      failed+=("$name: ${tests%% *}")
  done
done

# A newer installer (the same one, one version on) replaces the installed
# program; the older one then refuses to go over it.
version=${msi##*/razadedezuzev-} && version=${version%-x64.msi}
next="${version%.*}.$((${version##*.} + 1))"
(cd build/package && wixl -a x64 -D Version="$next" -D Stage=msi -o "$scratch/newer.msi" \
  "$root/packaging/razadedezuzev.wxs")
"$wine" msiexec /i "Z:${scratch//\//\\}\\newer.msi" /qn
listed=$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
  tr -d '\r' | sed -n 's/^ *DisplayName *REG_SZ *\(razadedezuzev .*\)/\1/p')
[ "$listed" = "razadedezuzev $next" ] || failed+=("installed after upgrading to $next: ${listed:-nothing}")
if "$wine" msiexec /i "Z:${msi//\//\\}" /qn; then failed+=("$version installed over $next"); fi
"$wine" msiexec /x "Z:${scratch//\//\\}\\newer.msi" /qn
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
