#!/usr/bin/env bash
# Installs every Debian package Rivulet needs to build, run and test. Used by
# scripts/run.sh, scripts/test.sh and CI. The lists live only in
# scripts/packages.d/, one package a line, each package in one list.
set -euo pipefail

PACKAGES=()
for list in "$(dirname "$0")"/packages.d/*.list; do
  while read -r p _; do
    case "$p" in ''|'#'*) ;; *) PACKAGES+=("$p") ;; esac
  done <"$list"
done
twice=$(printf '%s\n' "${PACKAGES[@]}" | sort | uniq -d | paste -sd' ')
[ -z "$twice" ] || echo "install-deps: listed more than once in scripts/packages.d: $twice" >&2

missing=()
for p in $(printf '%s\n' "${PACKAGES[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
