#!/bin/sh
# Retakes the screenshots of the user guide (help/images/): builds the desktop screenshot
# test, runs it once under Xvfb at scale 1 with English texts, and copies every screen it
# takes into help/images/ under the screen's name. Screens the test learns later (new
# pages and dialogs) are picked up by running this again; the guide test then asks for
# each new picture to be shown in help/index.html.
#
#   scripts/help-screenshots.sh [BUILD_DIR]      (default: build/)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
command -v xvfb-run >/dev/null || { echo "help-screenshots: xvfb-run is missing (package xvfb)" >&2; exit 1; }
cmake --build "$build" --target UiScreenshotTest default_config
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
# English texts whatever the machine's locale; the test's own private home.
env LC_ALL=C.UTF-8 LANG=C.UTF-8 LANGUAGE= QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 \
    VELLUMARK_PROGRAM_DIR="$build/bin" VELLUMARK_ARTEFACT_DIR="$shots" \
    xvfb-run -a -s "-screen 0 1600x1200x24" "$build/tests/UiScreenshotTest" >"$shots/run.log" 2>&1 ||
    { cat "$shots/run.log" >&2; echo "help-screenshots: the screenshot test failed" >&2; exit 1; }
mkdir -p "$root/help/images"
count=0
for shot in "$shots"/*-1x.png; do
    [ -e "$shot" ] || continue
    cp "$shot" "$root/help/images/$(basename "$shot" -1x.png).png"
    count=$((count + 1))
done
echo "help-screenshots: $count screens in $root/help/images"
