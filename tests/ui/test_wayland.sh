#!/usr/bin/env bash
# Headless sway with swaybar as the tray host, the program under XWayland, through
# scripts/wayland-rig.sh. Usage: test_wayland.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
pids=()
stop_all() { for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null; done; }
trap 'stop_all; rm -rf "$HOME"' EXIT
stub_browser
# The browser comes up as a Wayland window that keeps the keys it gets.
cat >>"$HOME/browser" <<'STUB'
foot -T browser sh -c 'cat >"$HOME/browser-keys"' >/dev/null 2>&1 &
STUB

read -r DBUS_SESSION_BUS_ADDRESS bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS
pids+=("$bus_pid")
cat >"$HOME/sway.conf" <<CONF
output HEADLESS-1 resolution 1280x800
xwayland enable
bindsym Mod1+d exec $rivulet --toggle
bar {
  position top
  status_command sleep 100000
  tray_output *
}
CONF
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$HOME/sway.conf" >"$HOME/sway.log" 2>&1 &
pids+=($!)
watcher_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q 'boolean true'
}
within '[ -S "$XDG_RUNTIME_DIR/wayland-1" ] && watcher_up' || { echo "SKIP: sway could not start:"; tail -5 "$HOME/sway.log"; finish; exit 0; }
export WAYLAND_DISPLAY=wayland-1 SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -1)
swaymsg exec "echo \$DISPLAY > $HOME/display" >/dev/null
within '[ -s "$HOME/display" ]' 3
export DISPLAY=$(cat "$HOME/display")
unset QT_QPA_PLATFORM
# The headless output has no pointer: a virtual one, driven through a fifo.
mkfifo "$HOME/pointer.in"
python3 "$here/wayland-pointer.py" <"$HOME/pointer.in" >"$HOME/pointer.out" 2>&1 &
pids+=($!)
exec 7>"$HOME/pointer.in"
clicks=0
click() {
  echo "click $1 $2" >&7
  clicks=$((clicks + 1))
  within '[ "$(grep -c "^ok" "$HOME/pointer.out")" -gt "$clicks" ]' 5
}

start=$(date +%s%N)
RIVULET_TEST_TIMINGS=fast start_app rivulet.log
pids+=($pid)
item="org.kde.StatusNotifierItem-$pid-1"
registered() {
  gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -q "StatusNotifierItem-$pid-"
}
for _ in $(seq 200); do registered && break; sleep 0.02; done
echo "TABLE|start-up to tray icon, swaybar (status notifier)|$(( ($(date +%s%N) - start) / 1000000 )) ms|-|-|500 ms"
check "our item is registered with the watcher" 'registered'
sleep 0.5
grim "$shots/wayland-bar.png"
# The icon: the only light pixels at the bar's right end (the status line is empty).
box=$(convert "$shots/wayland-bar.png" -crop 200x40+1080+0 +repage -threshold 60% -trim -format '%w %h %X %Y' info: 2>/dev/null)
read -r IW IH IX IY <<<"$box"
IX=$((1080 + ${IX#+})) IY=${IY#+}
check "the icon shows in swaybar ($IW x $IH at $IX,$IY)" '[ -n "$IW" ] && [ "$IW" -ge 8 ] && [ "$IW" -le 40 ] && [ "$IX" -gt 1100 ]'
CX=$((IX + IW / 2)) CY=$((IY + IH / 2))

menu_geometry() { xdotool search --onlyvisible --name "Rivulet menu" getwindowgeometry --shell 2>/dev/null | head -4; }
# Waits up to 4 s for the drop-down to be shown ($1 = 1) or gone ($1 = 0).
menu_becomes() { if [ "$1" = 1 ]; then within '[ -n "$(menu_geometry)" ]' 4; else within '[ -z "$(menu_geometry)" ]' 4; fi; }
activate() { gdbus call --session -d "$item" -o /StatusNotifierItem -m org.kde.StatusNotifierItem.Activate "$1" "$2" >/dev/null; }
activate $CX $CY
menu_becomes 1
eval "$(menu_geometry)"
check "Activate at the icon opens the drop-down" '[ -n "${WIDTH:-}" ]'
MX=${X:-0} MY=${Y:-0} MW=${WIDTH:-0}
check "under the icon: top $MY just below the icon (bottom $((IY + IH)))" '[ "$MY" -ge $((IY + IH)) ] && [ "$MY" -le $((IY + IH + IH)) ]'
check "its right edge $((MX + MW)) at the icon's right edge $((IX + IW))" '[ $((MX + MW - IX - IW)) -ge -4 ] && [ $((MX + MW - IX - IW)) -le $((IW / 2 + 4)) ]'
grim "$shots/wayland-dropdown.png"
activate $CX $CY
check "a second Activate closes it" 'menu_becomes 0'

pixmap() { gdbus call --session -d "$item" -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem IconPixmap | md5sum; }
before=$(pixmap)
# A short import may blink quicker than a poll: the host hears of each frame by NewIcon.
dbus-monitor --session "type='signal',interface='org.kde.StatusNotifierItem',member='NewIcon'" >"$HOME/newicon.log" 2>&1 &
monitor=$!
sleep 0.3
cp "$here/tone.mp3" "$HOME/Downloads/.song.part" && mv "$HOME/Downloads/.song.part" "$HOME/Downloads/song.mp3"
seen=$(for _ in $(seq 40); do pixmap; sleep 0.1; done | sort -u | wc -l)
kill $monitor 2>/dev/null
frames=$(grep -c 'member=NewIcon' "$HOME/newicon.log")
check "the icon pixmap changes while an import runs ($seen looks polled, $frames new icons announced)" '[ "$seen" -ge 2 ] || [ "$frames" -ge 2 ]'
check "and settles on the closed look" 'within "[ \"\$(pixmap)\" = \"\$before\" ]" 5'

wtype -M alt d -m alt
check "Alt+D bound to rivulet --toggle opens the drop-down" 'menu_becomes 1'
sleep 0.4
# A new keyboard's first key may go while XWayland takes its keymap: End first, harmless.
wtype -k End "blue moon" -k Return
check "typing a query and Return reach the browser: the search field had the focus" 'browser_got "${location}blue%20moon"'
grim "$shots/wayland-search.png"
check "the search closes the drop-down: it does not stay above the browser" 'menu_becomes 0'
within 'swaymsg -t get_tree | grep -q "\"name\": \"browser\"" && [ -e "$HOME/browser-keys" ]' 5
# A new virtual keyboard's first keys may be lost while its keymap is taken: typed again then.
for _ in 1 2 3; do
  wtype -k Escape "after the search" -k Return
  within 'grep -q "after the search" "$HOME/browser-keys"' 5 && break
done
check "Escape and typing then go to the browser window" 'grep -q "after the search" "$HOME/browser-keys"'
# One keyboard for the hotkey and the keys after it: sway refocuses its window whenever a
# keyboard comes. The keys wait in the pipe until the drop-down is open.
exec 8> >(exec wtype -M alt d -m alt -)
check "over the browser, Alt+D opens the drop-down" 'menu_becomes 1'
printf 'qz\033' >&8
exec 8>&- # wtype types what it read once the pipe closes
check "and Escape closes it" 'menu_becomes 0'
check "the keys went to the drop-down, not to the browser, and searched nothing" '! grep -q qz "$HOME/browser-keys" "$HOME/browser.log"'
# Clicks elsewhere close it. Each check starts from the state it needs.
closed() { menu_becomes 0 || wtype -M alt d -m alt; menu_becomes 0; }
reopen() { closed && wtype -M alt d -m alt && menu_becomes 1; }
about_is() { if [ "$1" = true ]; then within 'shown "About Rivulet"' 4; else within '! shown "About Rivulet"' 4; fi; }
# Loaded, a click may come before the freshly mapped drop-down takes input: then again.
for _ in 1 2 3; do
  reopen
  click $((MX + MW / 2)) $((MY + 47)) # its About row
  about_is true && break
done
check "a click on its own row reaches it: About opens" 'about_is true'
for _ in 1 2 3; do wtype -k End -k Escape; about_is false && break; done
check "and closes with Escape" 'about_is false'
for _ in 1 2 3; do reopen; click 320 400; menu_becomes 0 && break; done
check "a click on the browser window closes it" 'menu_becomes 0'
# A click on the icon, as a person makes it (a click just after a close is taken as part of it).
closed
for _ in 1 2 3; do click $CX $CY; menu_becomes 1 && break; done
check "a click on the icon opens it" 'menu_becomes 1'
click 600 $((IY + IH / 2))
check "a click on the bar closes it" 'menu_becomes 0'

# The bar, which holds the watcher on our private bus, restarts: the item registers again.
bar=$(gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.GetConnectionUnixProcessID \
  org.kde.StatusNotifierWatcher | sed -n 's/.*uint32 \([0-9]*\).*/\1/p')
[ -n "$bar" ] && kill "$bar"
check "the bar and its watcher went away" 'within "! watcher_up" 5'
swaymsg reload >/dev/null # sway starts its bar again
check "a restarted bar shows the icon again" 'within registered'
# wtype's keyboards carry only the keys they type.
check "the hotkey keeps its name under XWayland" '! grep -q "Couldn.t find a translation" "$HOME/rivulet.log"'
[ "$failed" -eq 0 ] || tail -40 "$HOME/rivulet.log"
quit_app
[ -f "$XDG_DATA_HOME/Rivulet/mpd/pid" ] && kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid")" 2>/dev/null
finish
