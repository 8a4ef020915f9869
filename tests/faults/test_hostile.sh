#!/usr/bin/env bash
# Crafted downloads: the user's files outside Downloads stay byte for byte, nothing private reaches the library.
# Under a desktop's limits: 1024 open files, no power over file modes, (as root) a 64 MB file system of its own.
# Usage: test_hostile.sh <rivulet>
. "$(dirname "$0")/../ui/desktop-test-lib.sh"
export RIVULET_TEST_TIMINGS=fast
# A program that follows a link to /dev/zero must not fill the machine.
ulimit -f $((200 * 1024))
here=$(cd "$(dirname "$0")" && pwd)
downloads=$HOME/Downloads
library=$HOME/Music/Rivulet
log=$HOME/rivulet.log
mkdir -p "$downloads"
run=(prlimit --nofile=1024:4096)
small_fs=false
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=64m tmpfs "$downloads"; then
  small_fs=true
  trap 'umount -l "$downloads"; rm -rf "$HOME"' EXIT
  run+=(setpriv --bounding-set -dac_override,-dac_read_search,-fowner)
fi
tone=$here/../data/tones/01\ tone.mp3
crafted=$(mktemp -d)
python3 "$here/make_hostile.py" "$crafted" "$tone" || { echo "could not make the crafted downloads"; exit 1; }

# What the user owns outside Downloads.
mkdir -p "$HOME/.ssh" "$HOME/.config/autostart" "$HOME/Documents"
printf 'export PATH=/usr/bin\n' >"$HOME/.bashrc" && printf 'umask 022\n' >"$HOME/.profile" && printf 'dear user\n' >"$HOME/Documents/letter.txt"
printf 'PRIVATE KEY %s\n' "$RANDOM$RANDOM" >"$HOME/.ssh/id_test" && chmod 600 "$HOME/.ssh/id_test"
mkdir -p "$XDG_DATA_HOME" "$library" "$HOME/.cache/rivulet" # the program's own folders, made before the snapshot
key_sum=$(sha256sum <"$HOME/.ssh/id_test" | cut -d' ' -f1)
# Every path under HOME but Downloads and the program's own folders, with type and content.
snapshot() {
  local own=(\( -path ./Downloads -o -path ./.local/share -o -path ./Music/Rivulet -o -path ./Music/Rivulet.m3u
             -o -path ./.config/Rivulet -o -path ./.cache/rivulet -o -path ./run -o -name 'rivulet*.log' \) -prune -o)
  (cd "$HOME" && find . "${own[@]}" -printf '%p %y %m %l\n' | sort && find . "${own[@]}" -type f -exec sha256sum {} + | sort)
}
before=$(snapshot)
intact() {
  local now; now=$(snapshot)
  [ "$now" = "$before" ] || { diff <(echo "$before") <(echo "$now") | sed 's/^/  changed outside Downloads: /' >&2; return 1; }
}
no_key_in_library() { [ ! -d "$library" ] || ! find "$library" -type f -exec sha256sum {} + 2>/dev/null | grep -q "$key_sum"; }
hostile() { report HOSTILE "$@"; }
handled() { grep -c "Fraction of scanned\|Error unpacking\|not unpacking\|Preferences say not" "$log" 2>/dev/null; }
# Drops a crafted file as a browser does and waits until the program has dealt with it.
drop() { # crafted name, [name in Downloads]
  local n; n=$(handled)
  cp -- "$crafted/$1" "$downloads/.part" && mv -- "$downloads/.part" "$downloads/${2:-$1}"
  within '[ "$(handled)" -gt "$n" ]' 30
  sleep 2.5 # whatever the import moved settles and is looked at by the watcher
}
start() { "${run[@]}" "$rivulet" --no-tray >>"$log" 2>&1 & pid=$!; sleep 0.7; }
stop() { kill -TERM $pid; wait $pid; }
playlist=$XDG_DATA_HOME/Rivulet/mpd/playlists/Rivulet.m3u
in_playlist() { grep -c "$1" "$playlist" 2>/dev/null; }
links_stay_inside() {
  find "$downloads" -type l -print0 | while IFS= read -r -d '' l; do
    rel=${l#"$downloads"/}
    case "$(readlink -m -- "$l")" in "$downloads/${rel%%/*}"/*) ;; *) echo "  leads out: $l -> $(readlink -- "$l")" >&2; exit 1 ;; esac
  done
}
scratch_gone() { [ -z "$(find "$XDG_DATA_HOME/Rivulet/archiveTemp" "$downloads" -path '*unpack*' -print -quit 2>/dev/null)" ]; }

settings DeleteZips=true
start

drop '...zip'
hostile "a zip named ...zip holding .bashrc and .config/autostart" \
  "files outside Downloads unchanged by checksum, song imported, contents kept below Downloads" \
  'intact && [ "$(in_playlist "01 dots.mp3")" = 1 ] && [ -n "$(find "$downloads" -mindepth 2 -name .bashrc)" ]'

drop music.zip
hostile "music.zip holding future-dated ...zip holding ..zip (each unpacking one level higher)" \
  "files outside Downloads unchanged by checksum, every nested keep folder inside Downloads" \
  'intact && [ -z "$(find "$HOME" -maxdepth 1 -name "*.mp3")" ] && [ "$(find "$downloads" -name "*.bashrc" | wc -l)" -ge 1 ]'

drop evil.rar
hostile "a tar named evil.rar with a future-dated symlink cover.mp3 -> ~/.ssh/id_test (relative, absolute, hard link)" \
  "no copy of the key in the library, user's files unchanged" 'no_key_in_library && intact'
hostile "the same tar: a fifo, a link to the fifo, a char device and a link to /dev/zero named *.mp3" \
  "the real song imported, the program still answers (next drop imported), library small" \
  'drop links.zip; [ "$(in_playlist "05 real.mp3")" = 1 ] && [ "$(in_playlist "06 real.mp3")" = 1 ] && [ "$(du -sm "$library" | cut -f1)" -lt 5 ]'
hostile "a zip with symlinks key.mp3 -> ~/.ssh/id_test and zero.mp3 -> /dev/zero" \
  "no copy of the key in the library, user's files unchanged" 'no_key_in_library && intact'
hostile "the links of evil.rar and links.zip (unar turns hard links into links)" "no link in Downloads leads out of its keep folder" \
  links_stay_inside
# Four distinct songs named 1, 2, 10, 11 and a text: four fifths music.
mkdir "$crafted/album"
i=0
for n in 10 2 11 1; do i=$((i + 1)); { cat "$here/../data/tones/0$i tone.mp3"; printf '%s' "$n"; } >"$crafted/album/$n song.mp3"; done
echo notes >"$crafted/album/notes.txt"
(cd "$crafted/album" && zip -q ../album.zip "10 song.mp3" "2 song.mp3" "11 song.mp3" "1 song.mp3" notes.txt && cp ../album.zip ../refused.zip)
sums() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum); }
drop album.zip
hostile "a zip whose songs are listed 10, 2, 11, 1 (4/5 music), Downloads on a file system of its own" \
  "playlist order 1, 2, 10, 11; every file in Downloads/album by checksum; the archive in that file system's own Trash" \
  '[ "$(grep -o "[0-9]* song.mp3" "$playlist" | tr "\n" ,)" = "1 song.mp3,2 song.mp3,10 song.mp3,11 song.mp3," ] && [ "$(sums "$downloads/album")" = "$(sums "$crafted/album")" ] && [ ! -e "$downloads/album.zip" ] && { ! $small_fs || [ -e "$downloads/.Trash-$(id -u)/files/album.zip" ]; }'
stop

# A library that refuses every file.
mv "$HOME/Music" "$HOME/Music.real" && echo "in the way" >"$HOME/Music"
settings DeleteZips=true DeleteArchiveContents=true
start
drop refused.zip
hostile "a library that refuses all four songs of a 4/5 music zip (DeleteZips, DeleteArchiveContents on)" "the archive stays in Downloads, unchanged" \
  'cmp -s "$downloads/refused.zip" "$crafted/refused.zip"'
stop
rm "$HOME/Music" && mv "$HOME/Music.real" "$HOME/Music"
settings DeleteZips=true

start
drop cp437.zip
hostile "a zip with CP437 raw names (caf\\x82.mp3, d\\xe9j\\xe0.txt)" \
  "all three moved to the keep folder with their bytes, scratch folder gone" \
  '[ "$(find "$downloads/cp437" -type f | wc -l)" = 3 ] && [ -e "$downloads/cp437/$(printf "d\xe9j\xe0.txt")" ] && scratch_gone'
stop

hostile "all of the above" "the user's files outside Downloads, by checksum" 'intact'
rm -rf "$crafted"
kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid" 2>/dev/null)" 2>/dev/null
[ "$failed" -eq 0 ] || cp "$log" /tmp/hostile-rivulet.log 2>/dev/null
finish
