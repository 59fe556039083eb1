#!/bin/bash
# Every manual page renders at 80 columns without a warning from groff or man.
set -uo pipefail
dir=$1
status=0
for page in "$dir"/*.[18]; do
  warnings=$(groff -ww -z -man "$page" 2>&1)
  rendered=$(MANWIDTH=80 MAN_KEEP_FORMATTING=0 man --warnings=w -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings$rendered" ]; then
    echo "FAIL $page:"; echo "$warnings"; echo "$rendered"
    status=1
  fi
  # A rendered line wider than 80 columns means a page that does not fit.
  wide=$(MANWIDTH=80 man -l "$page" 2>/dev/null | awk 'length($0) > 80')
  if [ -n "$wide" ]; then
    echo "FAIL $page: lines wider than 80 columns:"; echo "$wide"
    status=1
  fi
  name=$(basename "$page")
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^SYNOPSIS' || { echo "FAIL $name: no SYNOPSIS"; status=1; }
  echo "checked $name"
done
exit $status
