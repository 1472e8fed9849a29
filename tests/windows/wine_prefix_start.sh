#!/bin/sh
# Creates the wine prefix ($WINEPREFIX, under the build tree) and starts a
# persistent wine server for the tests that follow. Everything wine prints goes
# to the log given as $1, so no wine process holds the test's output open.
set -u
log="$1"
mkdir -p "$WINEPREFIX"
{ wineserver -p && wineboot -i; } >"$log" 2>&1 </dev/null
status=$?
if [ "$status" -ne 0 ]; then
  echo "wine prefix setup failed with status $status; $log says:"
  tail -n 40 "$log"
  exit 1
fi
echo "wine prefix ready in $WINEPREFIX"
