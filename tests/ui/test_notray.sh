#!/usr/bin/env bash
# A desktop without any tray host: the program keeps running and says so.
# Usage: test_notray.sh <rivulet> <screenshot folder>
set -u
rivulet=$1
passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); echo "PASS: $1"; else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
export HOME=$(mktemp -d)
trap 'rm -rf "$HOME"' EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
"$rivulet" >"$HOME/rivulet.log" 2>&1 &
pid=$!
sleep 1.5
check "it logs that no tray is available" 'grep -q "No system tray is available; open Rivulet with its hotkey" "$HOME/rivulet.log"'
check "it keeps running" 'kill -0 $pid'
kill -TERM $pid
wait $pid
check "and quits cleanly" '[ $? -eq 0 ]'
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
