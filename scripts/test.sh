#!/usr/bin/env bash
# Installs what the tests need, builds Rivulet and runs every test inside a
# private headless desktop, then the thread-safety tests in a
# ThreadSanitizer build. Every step runs even when an earlier one failed;
# the end prints one line per step and exits non-zero if any failed.
# RIVULET_CTEST_ARGS adds arguments to both ctest runs (e.g. -R name).
set -uo pipefail
cd "$(dirname "$0")/.."
summary=()
failed=0
step() { # step "name" command...
  local name=$1 start=$SECONDS status
  shift
  echo "=== $name"
  "$@"
  status=$?
  [ "$status" = 0 ] || failed=1
  summary+=("$([ "$status" = 0 ] && echo PASS || echo "FAIL (exit $status)")  $name  $((SECONDS - start)) s")
}
tsan() {
  local targets
  targets=$(find tests -name 'test_*threads*.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort | paste -sd' ')
  RIVULET_BUILD_TARGETS=$targets bash scripts/build.sh build-tsan -DRIVULET_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug || return
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp" \
    bash scripts/desktop-rig.sh ctest --test-dir build-tsan --output-on-failure -j2 -R threads ${RIVULET_CTEST_ARGS:-}
}

step install bash scripts/install-deps.sh
step build bash scripts/build.sh build
step ctest bash scripts/desktop-rig.sh ctest --test-dir build --output-on-failure -j2 ${RIVULET_CTEST_ARGS:-}
if [ "${RIVULET_SKIP_TSAN:-0}" != 1 ]; then
  step tsan tsan
fi
echo "=== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
