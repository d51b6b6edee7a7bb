#!/usr/bin/env bash
# Builds the Windows installer build/package/razadedezuzev-<version>-x64.msi
# with wixl (Debian's msitools) from packaging/razadedezuzev.wxs: the
# cross-built program (stripped), the 7-Zip engine 7z.dll built from Debian's
# sources (scripts/windows-engine.sh), the manual page as plain text, the
# project's licence and the engine's licence texts, all text with CR LF line
# ends. The version is the project's, the one the .deb carries (without its
# Debian revision: an installer's version has numbers only). Installs with
# apt-get what it lacks. Prints the installer's path on its last line.
#
#   scripts/msi.sh [Windows build dir]       (default: build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-windows}")

scripts/setup.sh g++-mingw-w64-x86-64-posix wixl groff-base >&2
engine=$(scripts/windows-engine.sh "$build" | tail -1)
# The same configuration as scripts/windows-test.sh: one build serves both.
cmake -S . -B "$build" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DRAZADEDEZUZEV_TESTS=OFF -DRAZADEDEZUZEV_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target razadedezuzev >&2

version=$(sed -n 's/^project(razadedezuzev VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }

stage="$PWD/build/package/msi"
rm -rf "$stage" && mkdir -p "$stage/7-Zip"
x86_64-w64-mingw32-strip -o "$stage/razadedezuzev.exe" "$build/razadedezuzev.exe"
cp "$engine" "$stage/7z.dll"
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }
groff -man -Tutf8 -P-cbou docs/razadedezuzev.1 >"$stage/manual.txt"
crlf "$stage/manual.txt" "$stage/razadedezuzev.txt"
crlf packaging/copyright "$stage/COPYING.txt"
for text in License.txt copying.txt unRarLicense.txt; do
  crlf "$(dirname "$engine")/licence/$text" "$stage/7-Zip/$text"
done

msi="$PWD/build/package/razadedezuzev-$version-x64.msi"
rm -f "$msi"
# (wixl takes sources relative to where it runs.)
(cd build/package && wixl -a x64 -D Version="$version" -D Stage=msi -o "$msi" "$OLDPWD/packaging/razadedezuzev.wxs")
echo "$msi"
