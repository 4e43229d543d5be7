#!/usr/bin/env bash
# The Wine prefix the Windows tests run in (WINEPREFIX, under the build
# tree), made without a display or questions the first time:
#   wine_prefix.sh start   make it if need be
#   wine_prefix.sh stop    end its wineserver
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
    # No Mono or Gecko installer: nothing here needs .NET or HTML. Without
    # the 32-bit half of Wine wineboot reports a failure of its own; the
    # 64-bit prefix is made all the same.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$WINEPREFIX.log" 2>&1 || true
    # The registry reaches the prefix's files when the wineserver ends.
    wineserver -w
    if [[ ! -e $WINEPREFIX/system.reg ]]; then
        cat "$WINEPREFIX.log" >&2
        exit 1
    fi
fi
echo "wine prefix ready: $WINEPREFIX"
