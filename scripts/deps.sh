#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the project needs when any is missing.
# Sourced by run.sh and test.sh; runs apt-get update only when something
# has to be installed.
set -euo pipefail

GLIMMER_PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core
  libpulse-dev pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber dbus-daemon perl
  libgtest-dev libgmock-dev libbenchmark-dev
  libmp3lame-dev libshine-dev
  libsndfile1-dev libsoxr-dev libmpg123-dev
  clang libclang-rt-14-dev
  desktop-file-utils appstream dpkg-dev file binutils man-db lintian
  libavformat-dev libavcodec-dev libswresample-dev ffmpeg
  weston qt6-wayland
  xvfb at-spi2-core gir1.2-atspi-2.0 python3-gi
)
# lintian checks the Debian package in the desktop_package test.
# clang and its libFuzzer runtime build tests/fuzz (./test.sh runs each of
# the two fuzzers for about 40 s). The ffmpeg command makes the phone and
# browser recordings the tests open, and the media fuzzer's seeds.
# app/presets/make_presets.py, which makes the preset voices kept in the
# repository, also needs espeak-ng and sox; the build and tests do not.
# Xvfb, the accessibility bus (at-spi2-core) and libatspi for Debian's
# python3 let tests/desktop/test_atspi.py work the window as a screen reader.

glimmer_install_deps() {
  local missing=()
  local p
  for p in "${GLIMMER_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}
