#!/bin/sh
# Saves pictures of talvine-editor, alone and with each dialog open, into
# docs/images/.  Runs under Xvfb when xvfb-run is installed, on Qt's offscreen
# platform otherwise (the pictures are taken from the widgets either way).
#
#   scripts/screenshots.sh [BUILD_DIR]      (default: build/dev)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
editor=$build/talvine-editor
out=$root/docs/images
if [ ! -x "$editor" ]; then
    echo "no editor at $editor: build with Qt 6 first (cmake --build $build)" >&2
    exit 1
fi
mkdir -p "$out"
if command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$editor" --screenshots "$out"
else
    QT_QPA_PLATFORM=offscreen "$editor" --screenshots "$out"
fi
echo "pictures in $out"
