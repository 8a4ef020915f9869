#!/usr/bin/env bash
# The look tests of test_preferences under a window manager (title bars, panels kept free), at QT_SCALE_FACTOR.
# Usage: test_prefs_look.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
openbox --sm-disable >"$HOME/openbox.log" 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null; rm -rf "$HOME"' EXIT
sleep 0.5
RIVULET_SCREENSHOTS=$shots "$(dirname "$rivulet")/tests/test_preferences" \
  windowsFitTheirScreenCentred followsTheApplicationPalette
