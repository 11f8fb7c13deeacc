#!/usr/bin/env bash
# The .deb builds, installs with apt-get, and leaves a working xagterm with
# its manual page. Needs root (it installs the package) and a Debian system.
set -euo pipefail
cd "$(dirname "$0")/../.."

need=()
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v cpack >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v man >/dev/null || need+=(man-db)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
# Minimal images leave manual pages out of every package they install.
rm -f /etc/dpkg/dpkg.cfg.d/excludes

rm -f build/package/xagterm_*.deb
make package
deb=$(ls build/package/xagterm_*.deb)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "./$deb"

version=$(sed -n 's/^project(xagterm VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
test "$(/usr/bin/xagterm --version)" = "xagterm $version"
/usr/bin/xagsim --help >/dev/null
page=$(man -w xagterm)
man -w xagsim >/dev/null
MANWIDTH=80 man xagterm 2>/dev/null | grep -q -- '--batch'
echo "check_deb: $deb installs; xagterm $version; manual page $page"
