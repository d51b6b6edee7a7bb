#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing, and
# nothing when everything is there already. Extra package names may be given
# as arguments (CI adds the fuzzing compiler); after --only, just those.
set -euo pipefail

# --no-install-recommends first: only what the packages need (the servers of
# the shared-store tests would bring hundreds of megabytes more).
options=()
if [ "${1:-}" = --no-install-recommends ]; then options+=("$1"); shift; fi
packages=(g++ cmake make libssl-dev libgtest-dev p7zip-full zip unzip python3 python3-fusepy util-linux coreutils)
if [ "${1:-}" = --only ]; then packages=(); shift; fi
packages+=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" "${missing[@]}"
fi
