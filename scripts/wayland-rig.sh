#!/usr/bin/env bash
# Runs the Wayland session test (tests/ui/test_wayland.sh) as an unprivileged
# user, since sway refuses to run as root. The program and what the test
# needs are copied to a world-readable temporary folder first (the build may
# sit where that user cannot read), and removed again afterwards.
# Usage: wayland-rig.sh <rivulet> <screenshot folder>
set -uo pipefail
rivulet=$1
shots=$2
here=$(cd "$(dirname "$0")/.." && pwd)
user=rivulet-wl
mkdir -p "$shots"
if ! command -v sway >/dev/null || ! command -v swaybar >/dev/null || ! command -v Xwayland >/dev/null || ! command -v foot >/dev/null; then
  echo "SKIP: sway, swaybar, Xwayland or foot is not installed"
  echo "0 passed, 0 failed"
  exit 0
fi
if [ "$(id -u)" = 0 ]; then
  id -u "$user" >/dev/null 2>&1 || useradd -m -s /bin/bash "$user" || { echo "SKIP: cannot create $user"; echo "0 passed, 0 failed"; exit 0; }
  run_as() { runuser -u "$user" -- "$@"; }
  uid=$(id -u "$user")
else
  run_as() { "$@"; }
  uid=$(id -u)
fi
work=$(mktemp -d /tmp/rivulet-wayland.XXXXXX)
# A runtime folder of this run's own: runs from several checkouts may overlap.
runtime=$(mktemp -d /tmp/rivulet-wayland-run.XXXXXX)
cleanup() {
  rm -rf "$work" "$runtime"
}
trap cleanup EXIT
chmod 755 "$work"
cp "$rivulet" "$work/rivulet"
cp "$here/tests/ui/test_wayland.sh" "$here/tests/ui/desktop-test-lib.sh" "$here/scripts/wayland-pointer.py" "$work/"
cp "$here/tests/data/tones/01 tone.mp3" "$work/tone.mp3"
mkdir -p "$work/shots"
chmod 700 "$runtime"
if [ "$(id -u)" = 0 ]; then chown -R "$user" "$work" "$runtime"; fi
run_as env -i PATH=/usr/local/bin:/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
  bash "$work/test_wayland.sh" "$work/rivulet" "$work/shots"
status=$?
cp "$work/shots/"* "$shots/" 2>/dev/null
exit $status
