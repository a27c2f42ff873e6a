#!/bin/sh
# Builds the Debian package from a built tree, unpacks it into a scratch root
# and runs the binary found there.
#   package_test.sh BUILD_DIR
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "$*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
set -- "$scratch"/out/pellix-capture_*_*.deb
[ -f "$1" ] || fail "no pellix-capture_<version>_<arch>.deb in $(ls "$scratch/out")"
deb=$1

# The libraries found by dpkg-shlibdeps and the packages that are no libraries.
depends=$(dpkg-deb -f "$deb" Depends)
for wanted in libxcb1 libwayland-client0 libpulse0 libtesseract5 libpng16-16 tesseract-ocr-eng fonts-urw-base35; do
  printf '%s\n' "$depends" | grep -q "\\b$wanted\\b" || fail "Depends lacks $wanted: $depends"
done

root=$scratch/root
dpkg -x "$deb" "$root"
binary=$root/usr/bin/pellix-capture
[ -x "$binary" ] || fail "no usr/bin/pellix-capture in the package"
[ -f "$root/usr/share/man/man1/pellix-capture.1.gz" ] || fail "no usr/share/man/man1/pellix-capture.1.gz"
man -l "$root/usr/share/man/man1/pellix-capture.1.gz" 2>/dev/null | grep -q "pellix-capture" ||
  fail "the packaged manual page does not read"

# The packaged binary answers: an option error, and the text service's start.
set +e
err=$("$binary" --bogus 2>&1 >/dev/null)
code=$?
set -e
[ "$code" -eq 2 ] || fail "--bogus ended with $code, not 2"
[ "$err" = "pellix-capture: unknown argument --bogus" ] || fail "--bogus said: $err"

out=$(XDG_CACHE_HOME="$scratch/cache" "$binary" ocr </dev/null) || fail "ocr ended with $?"
printf '%s\n' "$out" | grep -q '^{"ready":true,' || fail "ocr did not get ready: $out"
