#!/bin/sh
# Prepares Wine for the Windows tests of one build tree: creates the prefix
# when it is missing, starts a private headless X display, then starts the
# wineserver and Wine's background services with their output in a log, so
# they never hold the test runner's pipes open.
# usage: wine-start.sh BUILD_DIR
set -u
build=$1
. "$build/wine-env.sh"
log="$build/wine_start.log"
exec >"$log" 2>&1 </dev/null

wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

FOLIVEX_WINE=$FOLIVEX_WINE sh "$(dirname "$0")/wine-prefix.sh" || exit 1

if [ -z "${FOLIVEX_KEEP_DISPLAY:-}" ]; then
  if [ -f "$build/wine-xvfb.pid" ] && kill -0 "$(cat "$build/wine-xvfb.pid")" 2>/dev/null; then
    echo "display :$(cat "$build/wine-display") already running"
  else
    rm -f "$build/wine-display"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$build/wine-display" >/dev/null 2>&1 &
    echo $! >"$build/wine-xvfb.pid"
    i=0
    while [ ! -s "$build/wine-display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -s "$build/wine-display" ] || { echo "Xvfb did not start"; exit 1; }
    echo "display :$(cat "$build/wine-display")"
  fi
  DISPLAY=":$(cat "$build/wine-display")"
  export DISPLAY
fi

"$wineserver" -p30 || true
"$FOLIVEX_WINE" wineboot || { echo "wineboot failed"; exit 1; }

# The prefix trusts the build tree's test authority as Windows trusts any
# root: in the machine's Root store. The HTTPS sample site (built for the
# host) issues its certificates from it; an authority still valid for a day
# is kept, so this is the same root run after run.
host_site="$build/host/tests/folivex-sample-site"
ca=$("$host_site" --tls "$build/test-ca" --authority-only) || { echo "no test authority"; exit 1; }
"$FOLIVEX_WINE" "$build/tests/folivex-cert-tool.exe" trust "$ca" || { echo "the prefix does not trust $ca"; exit 1; }
echo "wine ready"
