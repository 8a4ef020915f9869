#!/usr/bin/env bash
# Installs what the tests need, builds Rivulet and runs every test inside a
# private headless desktop, then the thread-safety tests in a
# ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
bash scripts/desktop-rig.sh ctest --test-dir build --output-on-failure -j2
if [ "${RIVULET_SKIP_TSAN:-0}" != 1 ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Paths inside the checkout count relative to it, so clones in other folders share the cache.
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
  cmake -S . -B build-tsan -DRIVULET_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" >/dev/null
  targets=$(find tests -name 'test_*threads*.cpp' -printf '%f\n' | sed 's/\.cpp$//')
  cmake --build build-tsan -j2 --target $targets
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp" \
    bash scripts/desktop-rig.sh ctest --test-dir build-tsan --output-on-failure -R threads
fi
