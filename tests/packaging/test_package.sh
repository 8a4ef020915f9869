#!/usr/bin/env bash
# Builds the Debian package from a build folder, validates it, installs it with apt, runs it and removes it.
# Usage: test_package.sh <build folder>
set -uo pipefail
build=$(cd "$1" && pwd)
failures=0
check() { # check "what" command...
  local what=$1; shift
  if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
work=$(mktemp -d)
installed_here=0
cleanup() {
  [ "$installed_here" = 1 ] && apt-get remove -y --purge -o DPkg::Lock::Timeout=300 rivulet >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo -n)

version=$("$build/rivulet" --version | sed -n 's/^Rivulet //p')
deb=$build/rivulet_${version}_amd64.deb
rm -f "$build"/rivulet_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || cat "$work/cpack.log"
check "cpack made rivulet_${version}_amd64.deb" test -f "$deb"
[ -f "$deb" ] || exit 1

check "lintian reports no errors or warnings" lintian --fail-on error,warning "$deb"

dpkg-deb -x "$deb" "$work/root"
root=$work/root
for f in usr/bin/rivulet usr/share/applications/rivulet.desktop usr/share/icons/hicolor/scalable/apps/rivulet.svg \
         usr/share/metainfo/app.rivulet.Rivulet.metainfo.xml usr/share/man/man1/rivulet.1.gz \
         usr/share/doc/rivulet/copyright usr/share/doc/rivulet/changelog.gz; do
  check "the package holds /$f" test -s "$root/$f"
done
for s in 16 22 24 32 48 64 128 256 512; do
  check "the ${s}x${s} icon is a ${s}x${s} PNG" \
    bash -c "file '$root/usr/share/icons/hicolor/${s}x${s}/apps/rivulet.png' | grep -q 'PNG image data, $s x $s'"
done
check "the AppStream metadata validates" appstreamcli validate --no-net "$root/usr/share/metainfo/app.rivulet.Rivulet.metainfo.xml"
check "the metadata names this version" grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/app.rivulet.Rivulet.metainfo.xml"
check "the desktop entry validates" desktop-file-validate "$root/usr/share/applications/rivulet.desktop"
manwarn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/usr/share/man/man1/rivulet.1.gz" 2>&1 >/dev/null)
check "the manual page renders without warnings" test -z "$manwarn"
check "the manual page names this version" bash -c "zcat '$root/usr/share/man/man1/rivulet.1.gz' | grep -q 'Rivulet $version'"

depends=$(dpkg-deb -f "$deb" Depends)
check "Depends has the Qt libraries found by shlibdeps ($depends)" bash -c "grep -q 'libqt6core6' <<<'$depends' && grep -q 'libmpdclient2' <<<'$depends'"
check "Depends has unzip and unar" bash -c "grep -qw unzip <<<'$depends' && grep -qw unar <<<'$depends'"
check "Recommends mpd" test "$(dpkg-deb -f "$deb" Recommends)" = mpd

if dpkg-query -W -f='${Status}' rivulet 2>/dev/null | grep -q "install ok installed"; then
  echo "SKIP: a rivulet package is already installed here; it is left alone"
else
  "${sudo[@]}" apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1
  status=$?
  [ "$status" = 0 ] && installed_here=1
  check "apt installs the package" test "$status" = 0
  [ "$status" = 0 ] || tail -20 "$work/apt.log"
  check "the installed rivulet --version prints \"Rivulet $version\"" test "$(/usr/bin/rivulet --version)" = "Rivulet $version"
  check "the installed rivulet --help exits 0 and describes it" bash -c 'help=$(/usr/bin/rivulet --help) && grep -q -- --no-tray <<<"$help"'
  "${sudo[@]}" apt-get remove -y --purge -o DPkg::Lock::Timeout=300 rivulet >"$work/apt.log" 2>&1
  check "apt removes it again" test ! -e /usr/bin/rivulet
  installed_here=0
fi

echo "$failures failed"
[ "$failures" = 0 ]
