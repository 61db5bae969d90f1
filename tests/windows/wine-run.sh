#!/bin/sh
# Runs a Windows test program under Wine (TALVINE_WINE: wine64, or the
# 32-bit wine with WINEARCH=win32) in the build tree's own prefix, made
# once (under a lock: ctest starts several programs at a time).
set -e
: "${TALVINE_WINE:=/usr/lib/wine/wine64}"
export WINEDEBUG=-all
export WINEPREFIX="${TALVINE_WINEPREFIX:?}"
if [ ! -x "$TALVINE_WINE" ]; then
    echo "wine-run.sh: $TALVINE_WINE is not installed (scripts/install-deps.sh --windows)" >&2
    # install-deps.sh goes on without the 32-bit Wine when its packages
    # cannot be had (it says so): its tests are then skipped, not passed.
    if [ "$WINEARCH" = win32 ]; then
        echo "wine-run.sh: 32-bit code cannot run on this machine without the 32-bit Wine: skipped" >&2
        exit 77
    fi
    exit 1
fi
if ! "$TALVINE_WINE" --version >/dev/null 2>&1; then
    if [ "$WINEARCH" = win32 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        echo "wine-run.sh: 32-bit code cannot run on this machine (its kernel has no 32-bit user mode): skipped" >&2
        exit 77
    fi
    echo "wine-run.sh: $TALVINE_WINE does not run" >&2
    exit 1
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot.exe -i >/dev/null 2>&1' "$TALVINE_WINE"
fi
exec "$TALVINE_WINE" "$@"
