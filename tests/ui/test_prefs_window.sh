#!/usr/bin/env bash
# The preferences window driven like a person with xdotool: a folder inside a
# watched folder, already holding music, is added through the chooser and
# nothing of it is imported or trashed; rows are selected, Ctrl+clicked and
# removed (only the selection goes); the archive label toggles its checkbox;
# Escape and a bare key in the hotkey field change nothing, and Escape after
# a refused key ends the capture, not the window; Escape closes.
# Usage: test_prefs_window.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
data=$(cd "$(dirname "$0")/../data" && pwd)
albums=$HOME/Downloads/Albums
mkdir -p "$albums" "$XDG_CONFIG_HOME/Rivulet" "$XDG_DATA_HOME/Trash"
cp "$data/tones/01 tone.mp3" "$data/tones/02 tone.mp3" "$albums/"
touch -d '2 hours ago' "$albums"/*.mp3 # the user's music, there long before
sums=$(cd "$albums" && md5sum -- *.mp3)
# With DeleteFiles on, an import would also move the user's files to the Trash.
printf '[General]\nDeleteFiles=true\n' >"$conf"
log=$HOME/rivulet.log
# A window manager, as on a desktop: focus moves to the windows it maps.
openbox --sm-disable >"$HOME/openbox.log" 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null; rm -rf "$HOME"' EXIT
sleep 0.5
focus() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1" 2>/dev/null; sleep 0.3; }
restarts() { grep -c "Directory Differ: startWatching" "$log"; }

"$rivulet" >"$log" 2>&1 &
pid=$!
for _ in $(seq 50); do [ -n "$(visible "Welcome to Rivulet")" ] && break; sleep 0.1; done
focus "$(visible "Welcome to Rivulet")"
xdotool key Return; sleep 0.6; xdotool key Return; sleep 0.8 # "Yes": the preferences open
prefs=$(visible "Rivulet Preferences")
check "the preferences window is open" '[ -n "$prefs" ]'
focus "$prefs"
eval "$(xdotool getwindowgeometry --shell "$prefs")"
PH=$HEIGHT
# Clicks at a point of the window (x, y from its top left; negative y from its bottom).
click_at() { local y=$2; [ "$y" -lt 0 ] && y=$((PH + y)); xdotool mousemove --window "$prefs" "$1" "$y" click 1; }
row() { echo 60 $((63 + 14 * $1)); } # Downloads, Downloads/Albums or Mail Downloads

# The chooser: Alt+A, a folder outside home first (refused, the chooser stays), then the nested one.
xdotool key alt+a
sleep 0.8
chooser=$(visible "Choose a Folder to Watch")
check "Alt+A opens the folder chooser" '[ -n "$chooser" ]'
import -window root "$shots/prefs-chooser.png" 2>/dev/null
xdotool type --delay 20 "/tmp"
xdotool key Return
sleep 0.8
check "a folder outside home is refused with the notice" '[ -n "$(visible "^Rivulet$")" ]'
check "and the chooser stays open" '[ -n "$(visible "Choose a Folder to Watch")" ]'
xdotool key Return # Dismiss
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 20 "$albums"
xdotool key Return
sleep 1
check "the chooser closes on a folder inside home" '[ -z "$(visible "Choose a Folder to Watch")" ]'
# Watching restarts with the new folder; its first scan runs and settles.
sleep 9
check "nothing already in the nested folder is imported" '! grep -q "^+ Added" "$log"'
check "nor moved to the Trash ($(ls "$XDG_DATA_HOME/Trash/files" 2>/dev/null | wc -l) in the Trash)" '[ "$(cd "$albums" && md5sum -- *.mp3)" = "$sums" ] && [ -z "$(ls -A "$XDG_DATA_HOME/Trash/files" 2>/dev/null)" ]'
import -window root "$shots/prefs-nested-added.png" 2>/dev/null

# Select Downloads, Ctrl+click it away again: the keyboard's row stays, the selection is empty.
before=$(restarts)
click_at $(row 0)
sleep 0.8 # past the double-click interval: a second click, not a double click
xdotool keydown ctrl; click_at $(row 0); xdotool keyup ctrl
sleep 0.2
xdotool key alt+r
sleep 0.6
check "with nothing selected Remove removes nothing" '[ "$(restarts)" = "$before" ]'
# Select Mail Downloads, Ctrl+click Downloads: both go, Albums stays.
click_at $(row 2)
sleep 0.8
xdotool keydown ctrl; click_at $(row 0); xdotool keyup ctrl
sleep 0.2
import -window root "$shots/prefs-two-selected.png" 2>/dev/null
xdotool key alt+r
sleep 0.8
check "Remove takes the selected folders" '[ "$(restarts)" -gt "$before" ]'

# The text of the archive checkbox toggles it (DeleteFiles is on).
click_at 200 -270
sleep 0.4
check "clicking the archive label toggles its checkbox" 'grep -q "^DeleteArchiveContents=true" "$conf"'

# Escape in the hotkey field cancels; a bare key is refused.
hotkey_field() { click_at 340 -101; sleep 0.3; }
hotkey_field
xdotool key Escape
sleep 0.4
check "Escape in the hotkey field keeps the old hotkey" '! grep -q "^DownloadHotkey=" "$conf" && grep -q "Hotkey capture cancelled" "$log"'
check "and leaves the window open" '[ -n "$(visible "Rivulet Preferences")" ]'
hotkey_field
xdotool key k
sleep 0.4
check "a key without a modifier is refused" '! grep -q "^DownloadHotkey=" "$conf" && grep -q "keycode:40 without a modifier refused" "$log"'
import -window root "$shots/prefs-bare-key-refused.png" 2>/dev/null
xdotool key Escape
sleep 0.4
check "after it Escape ends the capture and leaves the window open" '[ -n "$(visible "Rivulet Preferences")" ]'
xdotool key alt+d
sleep 0.6
check "Alt+D still opens the drop-down" '[ -n "$(visible "Rivulet menu")" ]'
xdotool key Escape
sleep 0.4
focus "$prefs"
xdotool key Escape
sleep 0.5
check "Escape closes the preferences window" '[ -z "$(visible "Rivulet Preferences")" ]'
kill -TERM $pid
wait $pid

# What was stored: the next start lists only the nested folder.
"$rivulet" >"$HOME/rivulet2.log" 2>&1 &
pid=$!
sleep 2
kill -TERM $pid
wait $pid
dirs=$(sed -n '/^Directories:/,/^startAtLogin/p' "$HOME/rivulet2.log" | grep '^  ')
check "only the nested folder is still watched ($(echo $dirs))" '[ "$dirs" = "  $albums" ]'
kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid" 2>/dev/null)" 2>/dev/null
finish
