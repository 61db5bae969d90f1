#!/bin/sh
# Runs a Windows test program under wine64 in the build tree's own prefix,
# made once (under a lock: ctest starts several programs at a time).
set -e
: "${TALVINE_WINE:=/usr/lib/wine/wine64}"
export WINEDEBUG=-all
export WINEPREFIX="${TALVINE_WINEPREFIX:?}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot.exe -i >/dev/null 2>&1' "$TALVINE_WINE"
fi
exec "$TALVINE_WINE" "$@"
