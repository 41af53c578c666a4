#!/usr/bin/env bash
# The main job: installs what is missing, builds the programs it runs (not the tests:
# scripts/test.sh builds everything), and starts the desktop program when a display is
# available; otherwise converts the shipped sample PDF into a flip book with the batch
# command, which prints the path of the book's index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -Wno-dev >/dev/null
# The engine and the default configuration serve both ways of running.
targets=(rastrix default_config vellumark-batch)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  targets+=(vellumark vellumark-support help_guide desktop_icons)
fi
cmake --build build -j"$(nproc)" --target "${targets[@]}"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/vellumark
fi
build/bin/vellumark-batch data/samples/sample.pdf
