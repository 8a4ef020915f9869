#!/usr/bin/env bash
# Runs a command inside a private headless desktop: Xvfb, a session D-Bus, a
# tray host (trayer) and a notification daemon (dunst). Everything started
# here is stopped again when the command ends.
set -uo pipefail
rig=$(mktemp -d /tmp/rivulet-rig.XXXXXX)
pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  [ -n "${DBUS_PID:-}" ] && kill "$DBUS_PID" 2>/dev/null
  rm -rf "$rig"
}
trap cleanup EXIT

# The server picks a free display number itself, so rigs run side by side.
# Each wait below ends as soon as its part is up; the bounds are generous for a loaded machine.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$rig/display" >"$rig/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do [ -s "$rig/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -1 "$rig/display")
for _ in $(seq 300); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

read -r DBUS_SESSION_BUS_ADDRESS DBUS_PID < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS

# RIG_NO_TRAY=1 leaves the tray host out, for tests of a desktop without one;
# RIG_TRAY_HEIGHT, RIG_TRAY_EDGE (top, bottom) and RIG_TRAY_TINT (a colour
# such as 0x202020: a panel of that colour) shape the tray.
[ "${RIG_NO_TRAY:-0}" = 1 ] || trayer --edge ${RIG_TRAY_EDGE:-top} --align right --widthtype request --height ${RIG_TRAY_HEIGHT:-24} --SetDockType true \
  --SetPartialStrut true ${RIG_TRAY_TINT:+--alpha 0 --tint $RIG_TRAY_TINT} --transparent ${RIG_TRAY_TINT:+true}${RIG_TRAY_TINT:-false} \
  >"$rig/trayer.log" 2>&1 &
[ "${RIG_NO_TRAY:-0}" = 1 ] || pids+=($!)

cat >"$rig/dunstrc" <<'RC'
[global]
    mouse_left_click = do_action, close_current
    markup = full
    format = "<b>%s</b>\n%b"
RC
dunst -config "$rig/dunstrc" >"$rig/dunst.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.Notifications 2>/dev/null | grep -q 'boolean true' && break
  sleep 0.1
done

"$@"
