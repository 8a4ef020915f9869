#!/usr/bin/env bash
# Archives where they really arrive: Downloads on another file system than
# the program's data folder (a tmpfs mounted for the test, root only), a
# library that refuses every file, and an album whose names must reach the
# playlist in natural order. The user's files are checked by checksum.
# Usage: test_archive_places.sh <rivulet>
. "$(dirname "$0")/../ui/desktop-test-lib.sh"
export RIVULET_TEST_TIMINGS=fast
here=$(cd "$(dirname "$0")" && pwd)
downloads=$HOME/Downloads
log=$HOME/rivulet.log
playlist=$XDG_DATA_HOME/Rivulet/mpd/playlists/Rivulet.m3u
mkdir -p "$downloads" "$XDG_CONFIG_HOME/Rivulet"
tones=$here/../data/tones
work=$(mktemp -d)
place() { # what was tried, what was checked, condition
  if eval "$3"; then passed=$((passed + 1)); r=PASS; else failed=$((failed + 1)); r=FAIL; fi
  echo "ARCHIVE: $1 | checked: $2 | result: $r"
}
drop() { # file, name in Downloads; waits until the archive was dealt with
  local n
  n=$(grep -c "Fraction of scanned\|Error unpacking" "$log" 2>/dev/null)
  cp -- "$1" "$downloads/.part" && mv -- "$downloads/.part" "$downloads/$2"
  for _ in $(seq 120); do
    [ "$(grep -c "Fraction of scanned\|Error unpacking" "$log" 2>/dev/null)" -gt "$n" ] && break
    sleep 0.25
  done
  sleep 2.5
}
start() { "$rivulet" --no-tray >>"$log" 2>&1 & pid=$!; sleep 0.7; }
stop() { kill -TERM $pid; wait $pid; }
sums() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum); }

# An album of four songs and a text, four fifths music: distinct songs named 1, 2, 10, 11.
mkdir -p "$work/album"
i=0
for n in 10 2 11 1; do i=$((i + 1)); { cat "$tones/0$i tone.mp3"; printf '%s' "$n"; } >"$work/album/$n song.mp3"; done
echo notes >"$work/album/notes.txt"
(cd "$work/album" && zip -q ../album.zip "10 song.mp3" "2 song.mp3" "11 song.mp3" "1 song.mp3" notes.txt)
(cd "$work/album" && zip -q ../refused.zip "10 song.mp3" "2 song.mp3" "11 song.mp3" "1 song.mp3" notes.txt)
album_sums=$(sums "$work/album")

printf '[General]\nDidFirstLoad=true\nDeleteZips=true\n' >"$conf"
start
drop "$work/album.zip" album.zip
place "a zip whose songs are listed 10, 2, 11, 1" "they reach the playlist as 1, 2, 10, 11, in one notification" \
  '[ "$(grep -o "[0-9]* song.mp3" "$playlist" | tr "\n" ,)" = "1 song.mp3,2 song.mp3,10 song.mp3,11 song.mp3," ]'
place "the same zip, music share 4/5, contents kept" "every unpacked file in Downloads/album by checksum, archive in the Trash" \
  '[ "$(sums "$downloads/album")" = "$album_sums" ] && [ ! -e "$downloads/album.zip" ]'
stop

# A library that refuses every file (its music folder cannot be made).
mv "$HOME/Music" "$HOME/Music.real" 2>/dev/null
echo "in the way" >"$HOME/Music"
printf '[General]\nDidFirstLoad=true\nDeleteZips=true\nDeleteArchiveContents=true\n' >"$conf"
start
drop "$work/refused.zip" refused.zip
place "a library that refuses all four songs of a 4/5 music zip (DeleteZips, DeleteArchiveContents on)" \
  "the archive stays in Downloads, unchanged, and the log says why" \
  '[ "$(sha256sum <"$downloads/refused.zip")" = "$(sha256sum <"$work/refused.zip")" ] && grep -q "added none of the 4 music files of $downloads/refused.zip; the archive stays" "$log"'
stop
rm "$HOME/Music"
mv "$HOME/Music.real" "$HOME/Music" 2>/dev/null

# Downloads on another file system.
if [ "$(id -u)" != 0 ]; then
  echo "ARCHIVE: Downloads on another file system | checked: skipped, mounting a tmpfs needs root | result: SKIP"
else
  mv "$downloads" "$HOME/Downloads.before"
  mkdir "$downloads"
  mount -t tmpfs -o size=64m tmpfs "$downloads"
  trap 'umount -l "$downloads" 2>/dev/null; rm -rf "$HOME"' EXIT
  printf '[General]\nDidFirstLoad=true\nDeleteZips=true\nDeleteFiles=true\n' >"$conf"
  start
  cp "$work/album.zip" "$work/other.zip"
  drop "$work/other.zip" other.zip
  place "a zip in Downloads on a tmpfs, the data folder on another file system" \
    "every unpacked file in the keep folder by checksum (songs to the Trash), no scratch folder left" \
    '[ "$(sums "$downloads/other")" = "$(echo "$album_sums" | grep notes.txt)" ] && [ -z "$(find "$downloads" -maxdepth 1 -name ".Rivulet unpacking*")" ]'
  place "the songs and the archive on that file system sent to the Trash" "they are in its own .Trash-$(id -u), with their checksums; none imported twice" \
    '[ "$(sums "$downloads/.Trash-$(id -u)/files" | grep song)" = "$(echo "$album_sums" | grep song)" ] && [ -e "$downloads/.Trash-$(id -u)/files/other.zip" ] && [ "$(grep -c "^+ Added .*song.mp3" "$log")" = 8 ]'
  stop
  umount "$downloads"
  rmdir "$downloads"
  mv "$HOME/Downloads.before" "$downloads"
  trap 'rm -rf "$HOME"' EXIT
fi
rm -rf "$work"
kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid" 2>/dev/null)" 2>/dev/null
[ "$failed" -eq 0 ] || cp "$log" /tmp/archive-places-rivulet.log 2>/dev/null
finish
