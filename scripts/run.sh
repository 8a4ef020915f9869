#!/usr/bin/env bash
# Installs what Rivulet needs, builds it and runs it. Without a display it
# runs without tray icon and windows; the music library (MPD) is found or
# started by the program itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
exec ./build/rivulet "$@"
