#!/usr/bin/env bash
# Trays (trayer) on a rig started without one: a tray that comes late and restarts, then the
# icon and drop-down on trays of other sizes, a dark one, at the bottom and at scale 2.
# Usage: test_tray_sizes.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
tray=""
trap 'kill $tray 2>/dev/null; rm -rf "$HOME"' EXIT

start_app rivulet.log
root=$(xwininfo -root | awk '/Window id:/ {print $4}')
# Docked: a shown icon window whose parent is not the root window.
docked() {
  for w in $(xdotool search --onlyvisible --name '^Rivulet tray icon$' 2>/dev/null); do
    [ "$(xwininfo -children -id "$w" | awk '/Parent window id:/ {print $4}')" != "$root" ] && return 0
  done
  return 1
}
start_tray() { trayer --align right --widthtype request --SetDockType true "$@" >/dev/null 2>&1 & tray=$!; }
check "it logs that no tray is available and keeps running" 'within "grep -q \"No system tray is available\" \"\$HOME/rivulet.log\"" && kill -0 $pid'
within 'shown "Welcome to Rivulet"' && sleep 0.3
import -window root "$shots/welcome-notray.png" 2>/dev/null
start_tray --edge top --height 24
check "a tray started after it gets the icon" 'within docked'
import -window root "$shots/late-tray.png" 2>/dev/null
kill $tray; wait $tray 2>/dev/null
check "the icon leaves with the tray" 'within "! docked"'
start_tray --edge top --height 24
check "a restarted tray gets the icon again" 'within docked'
quit_app "and quits cleanly"
kill $tray; wait $tray 2>/dev/null
settings

row() {
  local height=$1 edge=$2 tint=$3 scale=$4
  local name="h${height}-${edge}${tint:+-dark}${scale:+-scale$scale}"
  start_tray --edge "$edge" --height "$height" --SetPartialStrut true \
    ${tint:+--alpha 0 --tint $tint} --transparent ${tint:+true}${tint:-false}
  QT_SCALE_FACTOR=${scale:-1} start_app "rivulet-$name.log"
  within 'shown "Rivulet tray icon"' 20
  sleep 0.6 # the panel's colour is read again after embedding
  geometry "Rivulet tray icon"
  local IX=$X IY=$Y IW=$WIDTH IH=$HEIGHT
  # trayer's icons are the panel's height less a pixel on each side.
  check "$name: the icon is square and fills the slot (${IW}x${IH})" '[ "$IW" = "$IH" ] && [ "$IH" -eq $((height - 2)) ]'
  import -window root "$shots/tray-$name.png" 2>/dev/null
  local panel_y=$([ "$edge" = top ] && echo $((IY + IH)) || echo $((IY - 1)))
  local panel=$(convert "$shots/tray-$name.png" -crop 1x1+$((IX + IW / 2))+$panel_y -colorspace Gray -format '%[fx:mean]' info:)
  local range=$(convert "$shots/tray-$name.png" -crop ${IW}x${IH}+$IX+$IY -colorspace Gray -format '%[fx:minima] %[fx:maxima]' info:)
  local contrast=$(awk -v p="$panel" -v r="$range" 'BEGIN { split(r, m, " "); a = p - m[1]; b = m[2] - p; print (a > b ? a : b) }')
  check "$name: the glyph stands out from the panel (contrast $contrast)" 'awk -v c="$contrast" "BEGIN { exit !(c > 0.4) }"'

  xdotool mousemove $((IX + IW / 2)) $((IY + IH / 2)) click 1
  check "$name: a click opens the drop-down" 'within "shown \"Rivulet menu\"" 10'
  geometry "Rivulet menu"
  local MX=$X MY=$Y MW=$WIDTH MH=$HEIGHT
  check "$name: the drop-down ($MX,$MY ${MW}x$MH) is inside the screen" '[ "$MX" -ge 0 ] && [ "$MY" -ge 0 ] && [ $((MX + MW)) -le 1280 ] && [ $((MY + MH)) -le 800 ]'
  check "$name: its right edge meets the icon's ($((MX + MW)) vs $((IX + IW)))" '[ $((MX + MW - IX - IW)) -ge -1 ] && [ $((MX + MW - IX - IW)) -le 1 ]'
  [ "$edge" = top ] && check "$name: it touches the panel's lower edge" '[ "$MY" -ge $((IY + IH)) ] && [ "$MY" -le $((IY + IH + 2)) ]'
  [ "$edge" = bottom ] && check "$name: it stands on the panel's upper edge" '[ $((MY + MH)) -le "$IY" ] && [ $((MY + MH)) -ge $((IY - 2)) ]'
  import -window root "$shots/dropdown-$name.png" 2>/dev/null
  quit_app "$name: quits cleanly"
  kill $tray; wait $tray 2>/dev/null
}

row 16 top "" ""
row 24 top 0x202020 ""
row 32 top "" ""
row 48 bottom "" ""
row 48 top "" 2
finish
