#!/usr/bin/env bash
# Builds Debian 12's xdg-desktop-portal-wlr from its source package, with the
# patches of this folder, into FOLDER (the build folder's portal-wlr), for the
# test session only: the system's copy stays as it is.
#   tools/portal/build_backend.sh FOLDER   prints the built binary's path
# Cached: a second run with the binary there does nothing. Needs a deb-src
# entry for apt (./dev adds one) and the packages ./dev installs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
folder=$1
binary=$folder/build/xdg-desktop-portal-wlr
stamp=$folder/patches.sum
sum=$(cat "$here"/*.patch | sha256sum | cut -d' ' -f1)
if [ -x "$binary" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$sum" ]; then
  echo "$binary"
  exit 0
fi
rm -rf "$folder"
mkdir -p "$folder/download"
cd "$folder/download"
# apt's sandbox user cannot write into a root-owned build folder: it warns and
# downloads as root, which is what we want here.
apt-get source -qq --download-only xdg-desktop-portal-wlr >/dev/null 2>&1 ||
  apt-get source --download-only xdg-desktop-portal-wlr
dpkg-source -x --no-check xdg-desktop-portal-wlr_*.dsc "$folder/source" >/dev/null
cd "$folder/source"
for p in "$here"/*.patch; do patch -s -p1 --batch <"$p"; done
meson setup -Dman-pages=disabled -Dsystemd=disabled "$folder/build" >/dev/null
ninja -C "$folder/build" >/dev/null
echo "$sum" >"$stamp"
echo "$binary"
