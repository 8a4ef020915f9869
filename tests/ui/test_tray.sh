#!/usr/bin/env bash
# The tray icon and its drop-down on a real X server with a real tray host,
# driven like a person with xdotool. Usage: test_tray.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
mkdir -p "$HOME/Downloads"
stub_browser
# Not the first run: the first-run window has a test of its own.
mkdir -p "$XDG_CONFIG_HOME/Rivulet"
# A search location of our own, so the check does not depend on the default.
location='https://music.example/search/search.html#/s/mediafire/'
printf '[General]\nDidFirstLoad=true\nSearchLocation="%s"\n' "$location" >"$XDG_CONFIG_HOME/Rivulet/Rivulet.conf"

"$rivulet" >"$HOME/rivulet.log" 2>&1 &
pid=$!
start=$(date +%s%N)
icon=""
for _ in $(seq 100); do
  icon=$(xdotool search --onlyvisible --name "Rivulet tray icon" 2>/dev/null | head -1)
  [ -n "$icon" ] && break
  sleep 0.02
done
shown_ms=$(( ($(date +%s%N) - start) / 1000000 ))
check "the icon is in the tray (after ${shown_ms} ms)" '[ -n "$icon" ]'
eval "$(xdotool getwindowgeometry --shell "$icon")"
IX=$X IY=$Y IW=$WIDTH IH=$HEIGHT

# The icon's tooltip shows though a tray icon is never the active window.
shown_windows() { xdotool search --onlyvisible --class rivulet 2>/dev/null | wc -l; }
before=$(shown_windows)
xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2))
for _ in $(seq 30); do [ "$(shown_windows)" -gt "$before" ] && break; sleep 0.1; done
check "resting the pointer on the icon shows its tooltip" '[ "$(shown_windows)" -gt "$before" ]'
xdotool mousemove 640 600
menu_visible() { xdotool search --onlyvisible --name "Rivulet menu" >/dev/null 2>&1; }
click_icon() { xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2)) click "$@" 1; sleep 0.5; }

click_icon
check "a click opens the drop-down" 'within menu_visible 5'
menu=$(xdotool search --onlyvisible --name "Rivulet menu" | head -1)
eval "$(xdotool getwindowgeometry --shell "$menu")"
MX=$X MY=$Y MW=$WIDTH MH=$HEIGHT
# Its place beside the icon: the rows of test_tray_sizes.sh.
import -window root "$shots/dropdown.png" 2>/dev/null
# Typing after a click goes to the search field.
xdotool type --delay 20 "abc"
xdotool key Return
check "typing after a click goes into the search field" 'browser_got "${location}abc"'
check "the search closes the drop-down" 'within "! menu_visible" 5'
click_icon
click_icon
check "a second click closes it" 'within "! menu_visible" 5'
click_icon --repeat 2 --delay 80
check "a double click leaves it open" 'within menu_visible 5'
click_icon
check "and a click closes it again" 'within "! menu_visible" 5'

click_icon
xdotool key Escape
sleep 0.4
check "Escape closes the drop-down" 'within "! menu_visible" 5'

# Rows highlight under the pointer.
click_icon
xdotool mousemove $((MX + 60)) $((MY + 56))
sleep 0.4
import -window root "$shots/dropdown-highlight.png" 2>/dev/null
click_icon
check "clicking the icon closes it" 'within "! menu_visible" 5'

# Press on the icon, drag onto "About Rivulet", release after the click interval.
xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2)) mousedown 1
sleep 0.3
xdotool mousemove $((MX + 60)) $((MY + 48))
sleep 0.3
xdotool mousemove $((MX + 62)) $((MY + 50))
sleep 0.4
xdotool mouseup 1
sleep 0.6
check "press, drag onto About and release opens the About window" 'xdotool search --onlyvisible --name "About Rivulet" >/dev/null'
check "and closes the drop-down" 'within "! menu_visible" 5'
import -window root "$shots/about.png" 2>/dev/null

# Another application takes the focus: the drop-down closes.
click_icon
xmessage -name other -geometry 200x80+100+300 "another application" &
other=$!
sleep 0.6
win=$(xdotool search --name "^xmessage$|other" | tail -1)
[ -n "$win" ] && xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win" 2>/dev/null
sleep 0.6
check "switching to another application closes it" 'within "! menu_visible" 5'
kill $other 2>/dev/null

# The hotkey (Alt+D by default) opens the drop-down with the search field
# focused while another application has the focus; pressing it again closes it.
xmessage -name other2 -geometry 200x80+100+450 "focused elsewhere" &
other=$!
sleep 0.5
xdotool search --name "other2|xmessage" | tail -1 | xargs -r -I{} xdotool windowfocus --sync {} 2>/dev/null
: >"$HOME/browser.log"
xdotool key alt+d
sleep 0.6
check "the hotkey opens the drop-down" 'within menu_visible 5'
# The last query is selected: typing replaces it.
xdotool type --delay 20 "hotkey"
xdotool key Return
check "typing goes into the search field" 'browser_got "${location}hotkey"'
check "and the search closes it" 'within "! menu_visible" 5'
xdotool key alt+d
sleep 0.6
check "the hotkey opens it again" 'within menu_visible 5'
xdotool key alt+d
sleep 0.6
check "pressing it again closes it" 'within "! menu_visible" 5'
kill $other 2>/dev/null

# A click elsewhere closes the drop-down; clicks on the icon or inside it do not count.
click_icon
xdotool mousemove $((MX + 150)) $((MY + MH - 4)) click 1
sleep 0.4
check "a click inside the drop-down leaves it open" 'menu_visible'
xdotool mousemove 300 500 click 4 click 5
sleep 0.4
check "turning the wheel elsewhere is no click: it stays open" 'menu_visible'
xdotool mousemove 300 500 click 1
sleep 0.5
check "a click elsewhere closes it" 'within "! menu_visible" 5'

# The keyboard on the rows: Down moves the highlight, Return runs the row
# (About holds the window slot now, so Quit is greyed and skipped: Down at
# the bottom row stays on the preferences).
click_icon
xdotool key Down Down Down Down Up Down
sleep 0.3
import -window root "$shots/dropdown-keyboard.png" 2>/dev/null
xdotool key Return
sleep 0.6
check "Down, Up and Return on a row run it: the preferences open" 'xdotool search --onlyvisible --name "Rivulet Preferences" >/dev/null'
check "and the drop-down closes" 'within "! menu_visible" 5'
kill -TERM $pid
wait $pid
status=$?
check "SIGTERM quits cleanly (status $status)" '[ "$status" -eq 0 ]'
[ "$status" -eq 0 ] || tail -60 "$HOME/rivulet.log"
check "and the store was saved" '[ -s "$XDG_DATA_HOME/Rivulet/storedata" ]'

# With the hotkey switched off, nothing is registered.
mkdir -p "$XDG_CONFIG_HOME/Rivulet"
printf '[General]\nDidFirstLoad=true\nUseDownloadHotkey=false\n' >"$XDG_CONFIG_HOME/Rivulet/Rivulet.conf"
"$rivulet" >"$HOME/rivulet2.log" 2>&1 &
pid=$!
sleep 1.5
xdotool key alt+d
sleep 0.5
check "with the hotkey off nothing is registered" '! grep -q "Register hotkey" "$HOME/rivulet2.log"'
check "and the key does not open the drop-down" 'within "! menu_visible" 5'
kill -TERM $pid
wait $pid

finish
