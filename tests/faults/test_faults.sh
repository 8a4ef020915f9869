#!/usr/bin/env bash
# Faults a user's machine throws at the whole program, each bounded in time and printed as one line.
# Usage: test_faults.sh <rivulet>
. "$(dirname "$0")/../ui/desktop-test-lib.sh"
export RIVULET_TEST_TIMINGS=fast
downloads=$HOME/Downloads
mkdir -p "$downloads"
settings DeleteFiles=true
tone=$(dirname "$0")/../data/tones/01\ tone.mp3
playlist=$XDG_DATA_HOME/Rivulet/mpd/playlists/Rivulet.m3u
fault() { report FAULT "$@"; }
# A distinct music file, written as a browser does.
drop() { { cat "$tone"; printf '%s' "$2"; } >"$downloads/.part" && mv "$downloads/.part" "$downloads/$1"; }
start() { "$rivulet" --no-tray >>"$HOME/${1:-rivulet}.log" 2>&1 & pid=$!; sleep 0.5; } # [log name]
stop() { kill -TERM $pid; wait $pid; }
settle() { within '[ -z "$(find "$downloads" -maxdepth 1 -name "*.mp3" -print -quit)" ]' "$1"; } # no music left in Downloads
in_playlist() { grep -cxF "Rivulet/$1" "$playlist" 2>/dev/null; }

# 1. kill -9 at random moments while files arrive.
written=()
for round in $(seq 30); do
  start
  for k in 1 2; do
    drop "round $round-$k.mp3" "$round-$k" && written+=("round $round-$k.mp3")
    sleep 0.$((RANDOM % 5))
  done
  sleep 0.$((RANDOM % 9))
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
done
start
settle 30
lost=0 repeated=0
for name in "${written[@]}"; do
  n=$(in_playlist "$name")
  [ "${n:-0}" -ge 1 ] || lost=$((lost + 1))
  [ "${n:-0}" -le 1 ] || repeated=$((repeated + 1))
done
fault "kill -9 during a stream of 60 files (30 rounds)" "every file imported ($lost not), none twice ($repeated), store loads" \
  '[ $lost -eq 0 ] && [ $repeated -eq 0 ] && ! grep -q "Failed to initialize the store" "$HOME/rivulet.log"'

stop

# 2. No notification daemon on the session bus, none startable on demand either.
read -r bus buspid < <(env -u DISPLAY XDG_DATA_DIRS=/nonexistent dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
DBUS_SESSION_BUS_ADDRESS=$bus start nodbus
drop "no daemon.mp3" nodaemon
settle 15
stop
kill "$buspid"
fault "no notification daemon" "the file is imported, one line says why nothing is shown" \
  '[ "$(in_playlist "no daemon.mp3")" = 1 ] && [ "$(grep -c "No notification service answers" "$HOME/nodbus.log")" = 1 ]'

# 3. A folder the user cannot read, inside a watched folder; run as an ordinary user (root reads everything).
if command -v setpriv >/dev/null && [ "$(id -u)" = 0 ]; then
  locked=$downloads/private
  mkdir -p "$locked"
  cp "$tone" "$locked/hidden.mp3"
  chown -R nobody:nogroup "$HOME"
  chmod 000 "$locked"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$HOME" "$rivulet" --no-tray >"$HOME/nobody.log" 2>&1 & pid=$!
  sleep 1
  setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c "cat '$tone' >'$downloads/.part' && printf x >>'$downloads/.part' && mv '$downloads/.part' '$downloads/readable.mp3'"
  fault "a folder the user cannot read" "the program keeps running and imports the rest" \
    'within "grep -q \"+ Added $downloads/readable.mp3\" \"\$HOME/nobody.log\"" 15 && kill -0 $pid'
  stop
fi

kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid")" 2>/dev/null
[ "$failed" -eq 0 ] || cp "$HOME"/*.log /tmp/ 2>/dev/null

finish
