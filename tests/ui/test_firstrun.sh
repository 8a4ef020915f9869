#!/usr/bin/env bash
# The first start: without a display first (not using up the question), the first-run question,
# the preferences it opens, a hotkey pressed there that then works, and the second start.
# Usage: test_firstrun.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"

DISPLAY= WAYLAND_DISPLAY= start_app rivulet0.log
sleep 1.5
kill -TERM $pid; wait $pid
check "a start without a display leaves the first-run question for later" '! grep -qs "^DidFirstLoad=true" "$conf"'

start_app rivulet.log
within 'shown "Welcome to Rivulet"' 20
welcome=$(visible "Welcome to Rivulet")
check "the first start shows the first-run window" '[ -n "$welcome" ]'
check "DidFirstLoad is recorded at once" 'grep -qs "^DidFirstLoad=true" "$conf"'
import -window root "$shots/firstrun.png" 2>/dev/null
xdotool windowactivate --sync "$welcome" 2>/dev/null
xdotool key Return sleep 0.6 key Escape sleep 0.6 # Escape closes the question as Cancel would: no answer
check "Escape on the question records no answer and opens no preferences window" \
  '! grep -qs "^StartAtLogin=" "$conf" && ! shown "Rivulet Preferences" && shown "Welcome to Rivulet"'
xdotool windowactivate --sync "$welcome" 2>/dev/null
xdotool key Return sleep 0.6
import -window root "$shots/firstrun-question.png" 2>/dev/null
xdotool key Return # "Yes" is the default button
within 'shown "Rivulet Preferences"' 10
prefs=$(visible "Rivulet Preferences")
check "answering Yes opens the preferences window" '[ -n "$prefs" ]'
check "and stores StartAtLogin and the autostart entry at once" \
  'grep -q "^StartAtLogin=true" "$conf" && [ -f "$XDG_CONFIG_HOME/autostart/rivulet.desktop" ]'
check "the first-run window is gone" '! shown "Welcome to Rivulet"'
import -window root "$shots/preferences.png" 2>/dev/null

eval "$(xdotool getwindowgeometry --shell "$prefs")"
xdotool mousemove --window "$prefs" 340 $((HEIGHT - 101)) click 1 sleep 0.3 keydown ctrl+shift key k keyup ctrl+shift
check "the new hotkey is stored packed" 'within "grep -q \"^DownloadHotkey=6597069766696$\" \"\$conf\"" 5'
xdotool key ctrl+shift+k
check "the new combination opens the drop-down" 'within "shown \"Rivulet menu\"" 5'
xdotool key ctrl+shift+k
check "and closes it" 'within "! shown \"Rivulet menu\"" 5'
xdotool key alt+d sleep 0.6
check "the old one no longer opens it" '! shown "Rivulet menu"'
quit_app "quitting with the preferences open works"

start_app rivulet2.log
sleep 1.5
check "the second start shows no first-run window" '! shown "Welcome to Rivulet"'
check "and adds the autostart entry for this program" 'grep -qF "Exec=\"$(readlink -f "$rivulet")\"" "$XDG_CONFIG_HOME/autostart/rivulet.desktop"'
kill -TERM $pid; wait $pid
finish
