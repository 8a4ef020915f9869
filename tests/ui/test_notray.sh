#!/usr/bin/env bash
# A desktop whose panel comes late and restarts: without a tray the program
# keeps running and says so; a tray host started afterwards gets the icon,
# and so does one restarted under it. Usage: test_notray.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
start_app rivulet.log
tray=""
trap 'kill $tray 2>/dev/null; rm -rf "$HOME"' EXIT
root=$(xwininfo -root | awk '/Window id:/ {print $4}')
# Docked: a shown icon window whose parent is not the root window.
docked() {
  for w in $(xdotool search --onlyvisible --name '^Rivulet tray icon$' 2>/dev/null); do
    [ "$(xwininfo -children -id "$w" | awk '/Parent window id:/ {print $4}')" != "$root" ] && return 0
  done
  return 1
}
start_tray() { trayer --edge top --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 & tray=$!; }
check "it logs that no tray is available and keeps running" 'within "grep -q \"No system tray is available\" \"\$HOME/rivulet.log\"" && kill -0 $pid'
# The welcome names the hotkey and rivulet --toggle instead of the tray.
within '[ -n "$(visible "Welcome to Rivulet")" ]' && sleep 0.3
import -window root "$shots/welcome-notray.png" 2>/dev/null
start_tray
check "a tray started after it gets the icon" 'within docked'
import -window root "$shots/late-tray.png" 2>/dev/null
kill $tray; wait $tray 2>/dev/null
check "the icon leaves with the tray" 'within "! docked"'
start_tray
check "a restarted tray gets the icon again" 'within docked'
quit_app "and quits cleanly"
finish
