#!/usr/bin/env bash
# The main job: installs what is missing, builds, and starts the desktop program when a
# display is available; otherwise converts the shipped sample PDF into a flip book with
# the batch command, which prints the path of the book's index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/vellumark
fi
build/bin/vellumark-batch data/samples/sample.pdf
