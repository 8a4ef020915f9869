#!/usr/bin/env bash
# A newcomer's first hour: music, a zip and a rar arriving as a browser writes them, then a restart.
# Usage: test_newcomer.sh <rivulet> <screenshot folder>
. "$(dirname "$0")/desktop-test-lib.sh"
data=$(cd "$(dirname "$0")/../data" && pwd)
downloads=$HOME/Downloads
mkdir -p "$downloads"
settings DeleteZips=true
playlist=$XDG_DATA_HOME/Rivulet/mpd/playlists/Rivulet.m3u
notifications() { echo $(( $(dunstctl count displayed) + $(dunstctl count waiting) + $(dunstctl count history) )); }
# A browser writes under a temporary name and renames at the end.
arrive() { cp "$1" "$downloads/.$2.part"; sleep 0.3; mv "$downloads/.$2.part" "$downloads/$2"; }
entries() { [ -f "$playlist" ] && wc -l <"$playlist" || echo 0; }

help=$("$rivulet" --help)
check "--help names --toggle and no test-only variable" 'grep -q -- "--toggle" <<<"$help" && ! grep -q "RIVULET_TEST\|RIVULET_FORCE\|(tests)" <<<"$help"'
check "the manual page names --toggle" 'grep -q "toggle" "$(dirname "$0")/../../data/rivulet.1"'
start_app rivulet.log -style Fusion # Qt's own options are not refused
sleep 1
work=$(mktemp -d -p "$HOME")
cp "$data/tones/"* "$work/"
(cd "$work" && zip -q album.zip "01 tone.mp3" "02 tone.mp3" "03 tone.mp3" "04 tone.mp3" notes.txt)
printf 'extra' >>"$work/03 tone.mp3"
arrive "$work/01 tone.mp3" "first song.mp3"
arrive "$work/03 tone.mp3" "second song.mp3"
arrive "$work/album.zip" "album.zip"
arrive "$data/rar/three-of-five.rar" "three-of-five.rar"
# Nine tracks arrive; the rar's three are the zip's, byte for byte: six distinct.
within '[ "$(entries)" -ge 6 ] && [ "$(notifications)" -ge 4 ]' 30
sleep 8 # the settle time passes once more: nothing else may arrive
check "six distinct tracks in the playlist, once each ($(entries))" '[ "$(entries)" -eq 6 ] && [ "$(sort "$playlist" | uniq -d | wc -l)" -eq 0 ]'
check "four notifications: two songs, two archives ($(notifications))" '[ "$(notifications)" -eq 4 ]'
check "the mostly-music zip went to the Trash" '[ -e "$XDG_DATA_HOME/Trash/files/album.zip" ] && [ ! -e "$downloads/album.zip" ]'
check "the rar stays; both archives' files are kept beside them" '[ -e "$downloads/three-of-five.rar" ] && [ -d "$downloads/three-of-five" ] && [ -e "$downloads/album/01 tone.mp3" ]'
quit_app

start_app rivulet2.log
sleep 8
check "after a restart nothing is imported twice ($(entries))" '[ "$(entries)" -eq 6 ] && [ "$(notifications)" -eq 4 ]'
kill -TERM $pid; wait $pid
kill "$(cat "$XDG_DATA_HOME/Rivulet/mpd/pid")" 2>/dev/null
finish
