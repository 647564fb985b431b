#!/bin/sh
# Stops what wine-start.sh started: the wineserver of the build tree's
# prefix, then the private display.
# usage: wine-stop.sh BUILD_DIR
set -u
build=$1
. "$build/wine-env.sh"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
if [ -f "$build/wine-xvfb.pid" ]; then
  kill "$(cat "$build/wine-xvfb.pid")" 2>/dev/null || true
  rm -f "$build/wine-xvfb.pid" "$build/wine-display"
fi
exit 0
