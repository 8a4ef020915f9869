#!/usr/bin/env bash
# Configures and builds Rivulet into build/ (or the folder given as $1, with
# extra CMake arguments after it); RIVULET_BUILD_TARGETS, when set, names the
# only targets to build. The one place that sets up the compiler cache.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths inside the checkout count relative to it, so clones in other folders share the cache.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
read -r -a targets <<<"${RIVULET_BUILD_TARGETS:-}"
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$dir" -j2 --target "${targets[@]}"
else
  cmake --build "$dir" -j2
fi
