#!/bin/sh
# Saves the tilt dialog as Talvine.dll's Win32 view shows it under Wine, on
# a virtual X display, into docs/images/win32-dialog.png.  Needs the
# windows-x64 build, xvfb-run and ImageMagick's convert (--bench in
# scripts/install-deps.sh).
#
#   scripts/win32-screenshot.sh [BUILD_DIR]      (default: build/windows-x64)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/windows-x64}
test=$build/tests/windows/win32_dialogs_test.exe
if [ ! -f "$test" ]; then
    echo "no $test: run cmake --workflow --preset windows-x64 first" >&2
    exit 1
fi
export TALVINE_WINEPREFIX="$build/screenshot-prefix"
run="$root/tests/windows/wine-run.sh"
# Xvfb runs no window manager: Wine draws the windows' frames itself.
"$run" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
bmp=$(mktemp /tmp/talvine-win32-XXXXXX.bmp)
trap 'rm -f "$bmp"' EXIT
xvfb-run -a -s "-screen 0 1024x768x24" env TALVINE_SCREENSHOT="Z:$bmp" \
    "$run" "$test" --gtest_filter='*Tilt*' >/dev/null
mkdir -p "$root/docs/images"
convert "$bmp" "$root/docs/images/win32-dialog.png"
echo "picture in $root/docs/images/win32-dialog.png"
