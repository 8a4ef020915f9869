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
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
export HOME=$(mktemp -d)
trap 'rm -rf "$HOME"' EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share RIVULET_MPD_OUTPUT=null
conf=$XDG_CONFIG_HOME/Rivulet/Rivulet.conf
