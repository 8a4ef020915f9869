#!/usr/bin/env bash
# Faults a user's machine can throw at Rivulet, each repeatable and bounded
# in time, each printed as one line: the fault, what was checked, the result.
# Usage: test_faults.sh <rivulet>   (RIVULET_FAULTS_FULL=1 for the slow full set)
. "$(dirname "$0")/../ui/desktop-test-lib.sh"
export RIVULET_TEST_TIMINGS=fast
downloads=$HOME/Downloads
mkdir -p "$downloads" "$XDG_CONFIG_HOME/Rivulet"
printf '[General]\nDidFirstLoad=true\nDeleteFiles=true\n' >"$conf"
tone=$(dirname "$0")/../data/tones/01\ tone.mp3
playlist=$XDG_DATA_HOME/Rivulet/mpd/playlists/Rivulet.m3u
fault() { # name, what was checked, condition
  if eval "$3"; then passed=$((passed + 1)); r=PASS; else failed=$((failed + 1)); r=FAIL; fi
  echo "FAULT: $1 | checked: $2 | result: $r"
}
# Writes a distinct music file the way a browser does: a hidden part file, renamed at the end.
drop() {
  local name=$1 salt=$2
  { cat "$tone"; printf '%s' "$salt"; } >"$downloads/.part"
  mv "$downloads/.part" "$downloads/$name"
}
start() { "$rivulet" --no-tray >>"$HOME/rivulet.log" 2>&1 & pid=$!; sleep 0.5; }
settle() { # waits until no music file is left in Downloads (or the time is up)
  for _ in $(seq "${1:-80}"); do
    [ -z "$(find "$downloads" -maxdepth 1 -name '*.mp3' -print -quit)" ] && return 0
    sleep 0.25
  done
  return 1
}
in_playlist() { grep -cxF "Rivulet/$1" "$playlist" 2>/dev/null; }

# 1. kill -9 at random moments while files arrive.
written=()
for round in $(seq 30); do
  start
  for k in 1 2; do
    name="round $round-$k.mp3"
    drop "$name" "$round-$k"
    written+=("$name")
    sleep 0.$((RANDOM % 5))
  done
  sleep 0.$((RANDOM % 9))
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
done
start
settle 120
lost=0
repeated=0
for name in "${written[@]}"; do
  n=$(in_playlist "$name")
  [ "${n:-0}" -ge 1 ] || lost=$((lost + 1)) # imported, even when it was waiting at the kill
  [ "${n:-0}" -le 1 ] || repeated=$((repeated + 1))
done
fault "kill -9 during a stream of 60 files (30 rounds)" "every file imported ($lost not), none twice ($repeated), store loads" \
  '[ $lost -eq 0 ] && [ $repeated -eq 0 ] && ! grep -q "Failed to initialize the store" "$HOME/rivulet.log"'

# 2. Awkward file names.
names=("with space.mp3" "quote's \"double\".mp3" $'new\nline.mp3' "-leading dash.mp3" $'bytes \xff\xfe.mp3' "$(printf 'L%.0s' $(seq 251)).mp3")
before=$(wc -l <"$playlist")
for i in "${!names[@]}"; do drop "${names[$i]}" "name$i"; done
settle 80
after=$(wc -l <"$playlist")
fault "file names with spaces, quotes, a newline, a leading dash, non-UTF-8 bytes, 255 bytes" \
  "all six imported ($((after - before))) and gone from Downloads" '[ $((after - before)) -eq 6 ] && settle 1'

# 3. The Downloads folder deleted and made again while watching.
rm -rf "$downloads"
sleep 1
mkdir -p "$downloads"
sleep 2.5
drop "after recreate.mp3" recreate
settle 60
fault "Downloads deleted and re-created while watching" "a file dropped afterwards is imported" '[ "$(in_playlist "after recreate.mp3")" = 1 ]'

# 4. MPD killed while files arrive.
mpdpid=$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid")
for k in 1 2 3 4; do drop "mpd gone $k.mp3" "mpd$k"; [ $k = 2 ] && kill "$mpdpid"; sleep 0.4; done
settle 80
missing=0
for k in 1 2 3 4; do [ "$(in_playlist "mpd gone $k.mp3")" = 1 ] || [ -e "$downloads/mpd gone $k.mp3" ] || missing=$((missing + 1)); done
fault "MPD killed during a stream of imports" "every file imported or still in Downloads ($missing lost)" '[ $missing -eq 0 ]'
kill -TERM $pid
wait $pid

# 5. No notification daemon on the session bus.
# A session bus whose attempts to start a daemon on demand fail too.
read -r bus buspid < <(env -u DISPLAY XDG_DATA_DIRS=/nonexistent dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
DBUS_SESSION_BUS_ADDRESS=$bus "$rivulet" --no-tray >"$HOME/nodbus.log" 2>&1 &
pid=$!
sleep 0.5
drop "no daemon.mp3" nodaemon
settle 60
kill -TERM $pid
wait $pid
kill "$buspid"
fault "no notification daemon" "the file is imported, one line says why nothing is shown" \
  '[ "$(in_playlist "no daemon.mp3")" = 1 ] && [ "$(grep -c "No notification service answers" "$HOME/nodbus.log")" = 1 ]'

# 7. A folder the user cannot read, inside a watched folder: the program runs
# as an ordinary user here (root reads everything).
if command -v setpriv >/dev/null && [ "$(id -u)" = 0 ]; then
  locked=$downloads/private
  mkdir -p "$locked"
  cp "$tone" "$locked/hidden.mp3"
  chmod 000 "$locked"
  chown -R nobody:nogroup "$HOME"
  chmod 000 "$locked"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$HOME" "$rivulet" --no-tray >"$HOME/nobody.log" 2>&1 &
  pid=$!
  sleep 1
  setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c "cat '$tone' >'$downloads/.part' && printf x >>'$downloads/.part' && mv '$downloads/.part' '$downloads/readable.mp3'"
  for _ in $(seq 60); do grep -q "+ Added $downloads/readable.mp3" "$HOME/nobody.log" && break; sleep 0.25; done
  fault "a folder the user cannot read" "the program keeps running and imports the rest" \
    'kill -0 $pid && grep -q "+ Added $downloads/readable.mp3" "$HOME/nobody.log"'
  kill -TERM $pid
  wait $pid
  chmod 755 "$locked"
  chown -R root:root "$HOME"
fi

# 8. A big file written slowly: handed over once, after it is complete.
# It grows more often than the settle time: with the fast timings every
# 0.2 s; the full set uses the program's own timings and grows every second.
size_mb=100
steps=40
pause=0.2
if [ "${RIVULET_FAULTS_FULL:-0}" = 1 ]; then
  size_mb=1024 steps=60 pause=1
  unset RIVULET_TEST_TIMINGS
fi
start
big="$downloads/big.mp3"
cat "$tone" >"$big"
for i in $(seq "$steps"); do
  truncate -s $((size_mb * 1024 * 1024 * i / steps)) "$big" # sparse, growing
  sleep "$pause"
done
finished=$(date +%s%N)
settle 120
added=$(grep -c "+ Added $big to MPD" "$HOME/rivulet.log")
copy=$(stat -c %s "$XDG_DATA_HOME/../../Music/Rivulet/big.mp3" 2>/dev/null || echo 0)
fault "a ${size_mb} MB file written in ${steps} steps" "handed over once ($added), complete ($copy bytes)" \
  '[ "$added" = 1 ] && [ "$copy" = $((size_mb * 1024 * 1024)) ]'
kill -TERM $pid
wait $pid
kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid")" 2>/dev/null

# 9. The user's own MPD (MPD_HOST) is down: no MPD of ours is started in its
# place, the song waits in Downloads, and it is imported once that MPD answers.
named=$HOME/named-mpd
mkdir -p "$named/playlists" "$HOME/Music"
cat >"$named/mpd.conf" <<CONF
music_directory "$HOME/Music"
playlist_directory "$named/playlists"
db_file "$named/db"
state_file "$named/state"
pid_file "$named/pid"
log_file "$named/log"
bind_to_address "$named/socket"
auto_update "no"
audio_output {
  type "null"
  name "null"
}
CONF
MPD_HOST=$named/socket "$rivulet" --no-tray >>"$HOME/rivulet.log" 2>&1 &
pid=$!
sleep 0.5
drop "waits for mpd.mp3" named
for _ in $(seq 60); do grep -q "does not answer" "$HOME/rivulet.log" && break; sleep 0.25; done
sleep 1
daemons=$(pgrep -c -f "^mpd $HOME|mpd.*$XDG_DATA_HOME" || true)
waiting=$([ -e "$downloads/waits for mpd.mp3" ] && echo yes || echo no)
mpd "$named/mpd.conf"
for _ in $(seq 80); do grep -q "+ Added $downloads/waits for mpd.mp3" "$HOME/rivulet.log" && break; sleep 0.25; done
fault "the user's MPD down, then up again" "no MPD of ours started ($daemons), the song waited ($waiting), imported once it answers" \
  '[ "$daemons" = 0 ] && [ "$waiting" = yes ] && grep -q "+ Added $downloads/waits for mpd.mp3" "$HOME/rivulet.log"'
kill -TERM $pid
wait $pid
kill "$(cat "$named/pid")" 2>/dev/null

[ "$failed" -eq 0 ] || cp "$HOME"/*.log /tmp/ 2>/dev/null

finish
