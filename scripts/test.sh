#!/usr/bin/env bash
# Installs what is missing (test tools too), builds, and runs every test: the whole suite
# on the normal build, then every test but the viewer's (which run no native code of their
# own) again on an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
scripts/check-layers.sh

scripts/build.sh build
ctest --test-dir build --output-on-failure --timeout 900

scripts/build.sh build-asan -DVELLUMARK_SANITIZE=ON -DVELLUMARK_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 1800 -LE viewer
