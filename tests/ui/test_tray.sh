#!/usr/bin/env bash
# The tray icon and its drop-down on a real tray host, driven with xdotool.
# Usage: test_tray.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
stub_browser

start_app rivulet.log
start=$(date +%s%N)
within 'shown "Rivulet tray icon"' 2
check "the icon is in the tray (after $(( ($(date +%s%N) - start) / 1000000 )) ms)" 'shown "Rivulet tray icon"'
geometry "Rivulet tray icon"
IX=$X IY=$Y IW=$WIDTH IH=$HEIGHT

# The icon's tooltip shows though a tray icon is never the active window.
shown_windows() { xdotool search --onlyvisible --class rivulet 2>/dev/null | wc -l; }
before=$(shown_windows)
xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2))
check "resting the pointer on the icon shows its tooltip" 'within "[ \$(shown_windows) -gt $before ]" 3'
xdotool mousemove 640 600
menu_visible() { xdotool search --onlyvisible --name "Rivulet menu" >/dev/null 2>&1; }
opened() { check "$1" 'within menu_visible 5'; }
closed() { check "$1" 'within "! menu_visible" 5'; }
click_icon() { xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2)) click "$@" 1; sleep 0.5; }

click_icon
opened "a click opens the drop-down"
geometry "Rivulet menu"
MX=$X MY=$Y MW=$WIDTH MH=$HEIGHT # its place beside the icon: test_tray_sizes.sh
import -window root "$shots/dropdown.png" 2>/dev/null
xdotool type --delay 20 "abc"
xdotool key Return
check "typing after a click goes into the search field" 'browser_got "${location}abc"'
closed "the search closes the drop-down"
click_icon
click_icon
closed "a second click closes it"
click_icon --repeat 2 --delay 80
opened "a double click leaves it open"
click_icon
closed "and a click closes it again"
click_icon
xdotool key Escape
closed "Escape closes the drop-down"

# Press on the icon, drag onto "About Rivulet" (highlighted under the pointer), release after the click interval.
xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2)) mousedown 1 sleep 0.3 mousemove $((MX + 60)) $((MY + 48)) sleep 0.3 mousemove $((MX + 62)) $((MY + 50)) sleep 0.4
import -window root "$shots/dropdown-highlight.png" 2>/dev/null
xdotool mouseup 1
check "press, drag onto About and release opens the About window" 'within "shown \"About Rivulet\"" 5'
closed "and closes the drop-down"

click_icon
xmessage -name other -geometry 200x80+100+300 "another application" &
other=$!
sleep 0.6
win=$(xdotool search --name "^xmessage$|other" | tail -1)
[ -n "$win" ] && xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win" 2>/dev/null
closed "switching to another application closes it"

# The hotkey opens the drop-down with the search field focused over another application.
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key alt+d
opened "the hotkey opens the drop-down"
xdotool type --delay 20 "hotkey" # the last query is selected: typing replaces it
xdotool key Return
check "typing goes into the search field, and the search closes it" 'browser_got "${location}hotkey" && within "! menu_visible" 5'
xdotool key alt+d
opened "the hotkey opens it again"
sleep 0.3
xdotool key alt+d
closed "pressing it again closes it"
kill $other 2>/dev/null

click_icon
xdotool mousemove $((MX + 150)) $((MY + MH - 4)) click 1 mousemove 300 500 click 4 click 5 sleep 0.4
check "a click inside the drop-down or the wheel turned elsewhere leaves it open" 'menu_visible'
xdotool mousemove 300 500 click 1
closed "a click elsewhere closes it"

# About holds the window slot, so Quit is greyed and skipped: Down at the bottom stays on Preferences.
click_icon
xdotool key Down Down Down Down Up Down
sleep 0.3
import -window root "$shots/dropdown-keyboard.png" 2>/dev/null
xdotool key Return
check "Down, Up and Return on a row run it: the preferences open" 'within "shown \"Rivulet Preferences\"" 5'
closed "and the drop-down closes"
quit_app "SIGTERM quits cleanly"
check "and the store was saved" '[ -s "$XDG_DATA_HOME/Rivulet/storedata" ]'

settings UseDownloadHotkey=false
start_app rivulet2.log
within 'shown "Rivulet tray icon"' 10
xdotool key alt+d
sleep 0.5
check "with the hotkey off the key does not open the drop-down" '! menu_visible'
quit_app "and then quits cleanly"
finish
