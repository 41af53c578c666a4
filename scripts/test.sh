#!/usr/bin/env bash
# Installs what is missing (test tools too), builds, and runs every test: the whole suite
# on the normal build, then the tests of our own native code again on an AddressSanitizer
# + UndefinedBehaviorSanitizer build. Tests share nothing, so CTest runs them side by side.
#   VELLUMARK_TEST_JOBS=N   tests run at once (default: twice the cores, since most tests
#                           wait on servers, browsers and child processes, not on a core)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
scripts/check-layers.sh

jobs=${VELLUMARK_TEST_JOBS:-$(($(nproc) * 2))}

scripts/build.sh build
ctest --test-dir build --output-on-failure --timeout 900 -j"$jobs" | tee build/ctest.log

# Left out of the sanitizer pass: the desktop programs' tests (their time goes to Qt's
# offscreen painting; the publishing, pipeline and settings code they drive is tested here
# through its own tests) and the viewer's (a browser running our JavaScript; no native code
# of ours beyond the books that the batch tests already make).
scripts/build.sh build-asan -DVELLUMARK_SANITIZE=ON -DVELLUMARK_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 1800 -LE viewer -j"$jobs" | tee build-asan/ctest.log

scripts/slowest-tests.sh build/ctest.log build-asan/ctest.log
