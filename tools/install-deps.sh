#!/usr/bin/env bash
# Installs every Debian package Tevrin needs to build, run and test.
# Safe to run more than once: apt-get skips what is already installed.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools \
  qt6-svg-dev libqt6svg6 qt6-httpserver-dev qt6-websockets-dev \
  qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin \
  libgl-dev libvulkan-dev libxkbcommon-dev \
  libgumbo-dev libicu-dev libxcb1-dev \
  fonts-liberation fonts-liberation2 fonts-dejavu-core \
  clang libclang-rt-14-dev clang-format clang-tidy \
  xvfb xauth openbox wmctrl xdotool x11-utils \
  kwin-wayland kwin-style-breeze qt6-wayland dbus \
  dpkg-dev desktop-file-utils appstream lintian \
  dbus-daemon systemd bubblewrap mmdebstrap
