#!/usr/bin/env bash
# Installs every Debian package that the program, its tools and its tests need: everything
# the scripts and tests call, so that a fresh Debian 12 root runs the whole suite
# (.ci/run checks that in one on every run).
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format ccache
    qt6-base-dev libgl-dev
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
    ffmpeg gcovr
    fp-utils-3.2.2 libmspack-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth imagemagick fonts-dejavu-core
    dbus at-spi2-core gir1.2-atspi-2.0 python3-gi
    desktop-file-utils appstream man-db groff-base dpkg-dev file lintian
    mediainfo e2fsprogs mount
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
