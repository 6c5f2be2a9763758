#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with.
# Safe to run again: it installs only what is missing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config   # toolchain
  libgtest-dev libgmock-dev          # unit tests
  libbenchmark-dev                   # benchmarks
  binutils                           # nm, for the export check
  qt6-base-dev qt6-l10n-tools        # the desktop program; lconvert
  qt6-translations-l10n              # Qt's own Chinese translation
  fonts-noto-cjk                     # Chinese text in the window and screenshots
  xvfb xauth                         # running the program without a display
  exfatprogs exfat-fuse              # exFAT volumes on loop devices in the card tests
  libexiv2-dev                       # writing the photos' EXIF
  libminizip-dev zlib1g-dev          # zip volumes
  libimage-exiftool-perl             # an independent EXIF reader for the tests
  unzip p7zip-full                   # independent zip readers for the tests
  libxxhash-dev xxhash               # checksums of the copies; xxhsum checks them independently
  poppler-utils                      # pdfinfo, pdffonts, pdfimages: checking the help PDF
  dpkg-dev file                      # cpack -G DEB: dpkg-shlibdeps, dpkg-architecture, file
  desktop-file-utils appstream       # validating the desktop entry and the AppStream metadata
  lintian                            # checking the Debian package by hand (not run by the tests)
  clang libclang-rt-14-dev           # fuzzing: clang and its libFuzzer and sanitizer runtimes
  gcovr                              # coverage reports of the tests
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
