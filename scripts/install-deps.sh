#!/usr/bin/env bash
# Installs every Debian package Rivulet needs to build, run and test.
# Used by scripts/run.sh, scripts/test.sh and CI, so the lists live only here.
set -euo pipefail

PACKAGES=(
  # build
  cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libmpdclient-dev libxcb1-dev libx11-dev libx11-xcb-dev libxcb-xinput-dev
  libxi-dev libxkbcommon-x11-dev
  # run: music library and unpacking tools
  mpd unar unzip zip
  # desktop rig for tests
  xvfb xauth xdotool x11-utils x11-xserver-utils x11-xkb-utils imagemagick
  trayer openbox dunst dbus dbus-x11 xdg-utils fonts-dejavu-core
  # test audio
  lame sox
)

# Each area of the project may list more packages, one a line, in scripts/packages.d/.
for list in "$(dirname "$0")"/packages.d/*.list; do
  [ -f "$list" ] && while read -r p _; do
    case "$p" in ''|'#'*) ;; *) PACKAGES+=("$p") ;; esac
  done <"$list"
done

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
