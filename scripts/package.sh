#!/usr/bin/env bash
# Builds the Debian package build-package/rivulet_<version>_amd64.deb
# (installing the build's Debian packages first, through sudo unless root).
# With --install it then installs the package with apt.
# RIVULET_UPDATE_FEED_URL, when set, is the release feed built in (https).
set -euo pipefail
cd "$(dirname "$0")/.."
install=0
[ "${1:-}" = --install ] && install=1
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)

bash scripts/install-deps.sh
dir=build-package
# Only the program is built; "install" must not wait for the tests.
RIVULET_BUILD_TARGETS=rivulet bash scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DRIVULET_UPDATE_FEED_URL="${RIVULET_UPDATE_FEED_URL:-}"
rm -f "$dir"/rivulet_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$PWD/$dir"/rivulet_*_amd64.deb)
echo "Built $deb"
if [ "$install" = 1 ]; then
  "${sudo[@]}" apt-get install -y "$deb"
  echo "Installed: $(rivulet --version)"
fi
