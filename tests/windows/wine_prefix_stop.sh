#!/bin/sh
# Stops the wine server started by wine_prefix_start.sh and waits until it and
# every wine process of the prefix have ended.
set -u
log="$1"
{ wineserver -k; wineserver -w; } >>"$log" 2>&1 </dev/null
echo "wine server stopped"
