#!/bin/sh
# The manual page renders without a single warning from man and groff.
#   man_page_test.sh PAGE
set -eu
page=$1
warnings=$(MANWIDTH=80 man --warnings=all -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "$page renders with warnings:" >&2
  echo "$warnings" >&2
  exit 1
fi
# Every section a reader looks for is there.
text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" DIAGNOSTICS FILES ENVIRONMENT EXAMPLES; do
  printf '%s\n' "$text" | grep -q "^$section\$" || { echo "no section $section" >&2; exit 1; }
done
