#!/usr/bin/env bash
# A desktop without any tray host: the program keeps running and says so.
# Usage: test_notray.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
"$rivulet" >"$HOME/rivulet.log" 2>&1 &
pid=$!
sleep 1.5
check "it logs that no tray is available" 'grep -q "No system tray is available; open Rivulet with its hotkey" "$HOME/rivulet.log"'
check "it keeps running" 'kill -0 $pid'
kill -TERM $pid
wait $pid
check "and quits cleanly" '[ $? -eq 0 ]'
finish
