#!/usr/bin/env bash
# Installs what building, running and testing Vantelo needs on Debian (run as root, or with sudo
# available). Packages already present are left alone.
set -euo pipefail

packages=(
    build-essential cmake make pkg-config
    qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
    libxcb1-dev libxcb-ewmh-dev liblz4-dev libfontconfig-dev
    ffmpeg curl libcurl4-openssl-dev libssl-dev
    # Reads the pages of sites that need a reader of their own; the tests run it on loopback.
    yt-dlp
    xvfb xauth x11-utils imagemagick dbus-daemon
    # The accessibility bus and its registry, for the test that reads the windows as a screen
    # reader does.
    at-spi2-core
    fonts-dejavu-core
    clang-14 libclang-rt-14-dev clang-format
    file desktop-file-utils appstream lintian mmdebstrap debian-archive-keyring xdotool
    # The download benchmark: its server and proxy.
    nginx
    # The conversion benchmark of today's formats measures against HandBrake.
    handbrake-cli
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
