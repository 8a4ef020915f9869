# Shared by the shell-driven desktop tests: counting checks and a private HOME.
# Source it with the test's arguments: <rivulet> <screenshot folder>.
set -u
rivulet=$1
shots=${2:-/tmp}
mkdir -p "$shots"
passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); echo "PASS: $1"; else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
# One line per case: "<KIND>: what was tried | checked: what | result: PASS|FAIL".
report() { # kind, what was tried, what was checked, condition
  local r=FAIL
  if eval "$4"; then passed=$((passed + 1)); r=PASS; else failed=$((failed + 1)); fi
  echo "$1: $2 | checked: $3 | result: $r"
}
# Waits up to $2 seconds (default 10) for the command $1 to succeed.
within() { for _ in $(seq $((${2:-10} * 10))); do eval "$1" && return 0; sleep 0.1; done; return 1; }
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
shown() { [ -n "$(visible "$1")" ]; }
# Sets X, Y, WIDTH and HEIGHT to the place of the shown window named $1.
geometry() { eval "$(xdotool getwindowgeometry --shell "$(visible "$1")")"; }
# Starts the program in the background ($pid), its output in $HOME/$1, the rest as its arguments.
start_app() { local log=$1; shift; "$rivulet" "$@" >"$HOME/$log" 2>&1 & pid=$!; }
# Sends SIGTERM and checks the program quit cleanly ($1 names the check).
quit_app() { kill -TERM $pid; wait $pid; local s=$?; check "${1:-quits cleanly} (status $s)" "[ $s -eq 0 ]"; }
export HOME=$(mktemp -d)
trap 'rm -rf "$HOME"' EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share RIVULET_MPD_OUTPUT=null
conf=$XDG_CONFIG_HOME/Rivulet/Rivulet.conf
# Writes Rivulet.conf: after a first run, with the Key=value lines given.
settings() { mkdir -p "${conf%/*}"; printf '[General]\nDidFirstLoad=true\n' >"$conf"; printf '%s\n' "$@" >>"$conf"; }

# A browser that writes the addresses it gets to $HOME/browser.log, registered as xdg-open
# looks one up (an installed browser would win over $BROWSER); after a first run, a search
# location of our own ($location, not the default) and a Downloads folder.
stub_browser() {
  mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
  cat >"$HOME/browser" <<'STUB'
#!/bin/sh
printf '%s\n' "$1" >>"$HOME/browser.log"
STUB
  chmod +x "$HOME/browser"
  cat >"$XDG_DATA_HOME/applications/stub-browser.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Stub browser
Exec=$HOME/browser %u
MimeType=x-scheme-handler/http;x-scheme-handler/https;
NoDisplay=true
ENTRY
  printf '[Default Applications]\nx-scheme-handler/http=stub-browser.desktop\nx-scheme-handler/https=stub-browser.desktop\n' \
    >"$XDG_CONFIG_HOME/mimeapps.list"
  export BROWSER=$HOME/browser
  location='https://music.example/search/search.html#/s/mediafire/'
  settings "SearchLocation=\"$location\""
  mkdir -p "$HOME/Downloads"
}
# Waits up to 5 s for the stub browser to have received an address equal to $1.
browser_got() {
  for _ in $(seq 50); do grep -qxF "$1" "$HOME/browser.log" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
