#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quick when all are there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev
  gobjc++ libgnustep-base-dev gnustep-base-runtime libpng-dev libjpeg-dev zlib1g-dev
  libgnustep-gui-dev gnustep-gui-runtime gnustep-back0.29 xvfb xdotool imagemagick procps
  fonts-dejavu-core x11-utils
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
  jackd2 libjack-jackd2-dev libasound2-dev dpkg-dev pkg-config
  nsis pipewire pipewire-bin pipewire-jack
  xvfb xdotool imagemagick fonts-wine fonts-dejavu-core fonts-wqy-microhei procps
  linux-source-6.1 make gcc libc6-dev flex bison bc libelf-dev xz-utils alsa-utils perl-base
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
