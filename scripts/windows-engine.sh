#!/usr/bin/env bash
# Builds the 7-Zip engine for Windows, 7z.dll, from Debian's own source
# package of the engine that the Linux build loads (p7zip), with the MinGW-w64
# cross compiler, and keeps it in <build dir>/engine/7z.dll, with the
# engine's licence texts from the same sources in <build dir>/engine/licence/
# (they go beside it into the installer). Nothing is built when the engine is
# there already: it only changes with the package.
#
#   scripts/windows-engine.sh [build dir]     (default: build-windows)
#
# Prints the path of the engine on its last line. Installs what it lacks with
# apt-get (the cross compiler, dpkg-dev for unpacking sources, make) and adds
# a source entry for Debian's packages when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=$(realpath -m "${1:-build-windows}")
engine_dir="$build_dir/engine"
engine="$engine_dir/7z.dll"

licence="$engine_dir/licence"
if [ -f "$engine" ] && [ -f "$licence/License.txt" ]; then
  echo "$engine"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

# `apt-get source` needs a deb-src entry; Debian's images carry binary ones only.
add_source_entry() {
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    local binary=/etc/apt/sources.list.d/debian.sources
    if [ ! -f "$binary" ]; then
      echo "no $binary to derive a deb-src entry from" >&2
      exit 1
    fi
    sed 's/^Types:.*/Types: deb-src/' "$binary" |
      $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  fi
  # The entry may be there while the package lists have not been fetched yet.
  if [ -z "$(apt-cache showsrc p7zip 2>/dev/null)" ]; then
    $sudo apt-get update -qq
  fi
}

install_missing g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  dpkg-dev make
add_source_entry

# A scratch folder of its own: `apt-get source` unpacks there with Debian's
# patches applied. A half-finished earlier attempt is started over.
scratch="$engine_dir/source"
rm -rf "$scratch"
mkdir -p "$scratch"
(cd "$scratch" && apt-get source p7zip) >"$engine_dir/source.log" 2>&1 || {
  echo "apt-get source p7zip failed; see $engine_dir/source.log" >&2
  exit 1
}
bundle=$(find "$scratch" -maxdepth 5 -type d -path '*/CPP/7zip/Bundles/Format7zF' | head -1)
if [ -z "$bundle" ]; then
  echo "no CPP/7zip/Bundles/Format7zF in the p7zip sources" >&2
  exit 1
fi

mkdir -p "$licence"
cp "$bundle"/../../../../DOC/{License.txt,copying.txt,unRarLicense.txt} "$licence/"
if [ -f "$engine" ]; then  # kept from before the licence texts were
  rm -rf "$scratch"
  echo "$engine"
  exit 0
fi

echo "Building 7z.dll in $bundle (a few minutes on 2 cores)"
(
  cd "$bundle"
  mkdir -p b/g
  make -f ../../cmpl_gcc.mak -j2 IS_MINGW=1 DISABLE_RAR_COMPRESS=1 \
    CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
    RC=x86_64-w64-mingw32-windres >"$engine_dir/build.log" 2>&1
) || {
  echo "building 7z.dll failed; see $engine_dir/build.log" >&2
  exit 1
}
cp "$bundle/b/g/7z.dll" "$engine.part"
mv "$engine.part" "$engine"
rm -rf "$scratch"
echo "$engine"
