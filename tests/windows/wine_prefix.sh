#!/usr/bin/env bash
# The Wine prefix the Windows tests run in (WINEPREFIX, under the build
# tree), made without a display or questions the first time:
#   wine_prefix.sh start   make it if need be, and keep one wineserver up
#   wine_prefix.sh stop    end that wineserver
# Console programs and message-only windows need no X server.
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
if [[ $1 == stop ]]; then
    wineserver -k 2>/dev/null || true
    exit 0
fi
if [[ ! -e $WINEPREFIX/system.reg ]]; then
    # No Mono or Gecko installer: nothing here needs .NET or HTML.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$WINEPREFIX.log" 2>&1 || {
        cat "$WINEPREFIX.log" >&2
        exit 1
    }
fi
wineserver -p 30 # later programs start without starting a server
echo "wine prefix ready: $WINEPREFIX"
