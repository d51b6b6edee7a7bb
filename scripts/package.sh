#!/usr/bin/env bash
# Builds the Debian package: a Release build in build/package/ without the
# tests, with Debian's hardening flags, packed by CPack into
# build/package/razadedezuzev_<version>_<architecture>.deb. Installs with
# apt-get what a fresh Debian 12 machine lacks for it, and nothing when
# everything is there already. Extra package names may be given as arguments
# (scripts/package-test.sh adds lintian and the run-time dependencies).
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-dev: dpkg-shlibdeps and dpkg-buildflags; file: CPack's test for binaries.
scripts/setup.sh --only g++ cmake make libssl-dev dpkg-dev file gzip binutils "$@"

umask 022  # the package's files and directories get the usual modes
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DRAZADEDEZUZEV_TESTS=OFF \
      -DRAZADEDEZUZEV_FUZZ=OFF -DRAZADEDEZUZEV_SANITIZE=OFF \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/package -j"$(nproc)"
rm -f build/package/razadedezuzev_*.deb
(cd build/package && cpack -G DEB)
ls build/package/razadedezuzev_*.deb
