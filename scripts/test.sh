#!/usr/bin/env bash
# Installs what is missing (test tools too), builds, and runs every test: the whole suite
# on the normal build, then the tests of our own native code again on an AddressSanitizer
# + UndefinedBehaviorSanitizer build. Tests share nothing, so CTest runs them side by side,
# and the sanitizer build is made at low priority while the normal suite runs (its tests
# mostly wait on servers, browsers and child processes, which leaves a core idle).
#   VELLUMARK_TEST_JOBS=N   tests run at once (default: twice the cores)
set -euo pipefail
cd "$(dirname "$0")/.."

# Where the time went, printed at the end with the slowest tests.
timings=()
mark=$SECONDS
took() {
  timings+=("$(printf '%5d s  %s' $((SECONDS - mark)) "$1")")
  mark=$SECONDS
}

scripts/install-deps.sh --test
scripts/check-layers.sh

jobs=${VELLUMARK_TEST_JOBS:-$(($(nproc) * 2))}

# Tests keep their homes, books and servers' folders under TMPDIR: a folder in memory
# (/dev/shm) spares them the disk's syncs, which made up most of the batch tests' time. It
# is open to all (0755), as /tmp is, so the transport tests' servers can reach the folders
# they serve.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  TMPDIR=$(mktemp -d /dev/shm/vellumark-tests.XXXXXX)
  chmod 755 "$TMPDIR"
  export TMPDIR
  trap 'rm -rf "$TMPDIR"' EXIT
fi

# The test build carries no debug information (the sanitizer build below does): it builds
# in about a quarter less time. -O2, as the usual build has.
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG"
took "installing what was missing and building"

# Left out of the sanitizer build: the desktop programs and so their tests (their time goes
# to Qt's offscreen painting; the publishing, pipeline and settings code they drive is
# tested here through its own tests). Left out of its test run: the viewer's tests (a
# browser running our JavaScript; the books it reads are made by code the batch tests run).
# Line tables (-g1) are all the sanitizers' reports need, and build faster than full
# debug information.
mkdir -p build-asan
setsid nice -n 15 scripts/build.sh build-asan -DVELLUMARK_SANITIZE=ON -DVELLUMARK_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 > build-asan/build.log 2>&1 &
asan_build=$!
if ! ctest --test-dir build --output-on-failure --timeout 900 -j"$jobs" | tee build/ctest.log; then
  kill -- -"$asan_build" 2>/dev/null || true
  exit 1
fi
took "tests"
if ! wait "$asan_build"; then
  cat build-asan/build.log
  exit 1
fi
took "waiting for the sanitizer build"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 1800 -LE viewer -j"$jobs" | tee build-asan/ctest.log
took "tests under the sanitizers"

scripts/slowest-tests.sh build/ctest.log build-asan/ctest.log
echo "Where the time went:"
printf '%s\n' "${timings[@]}"
printf '%5d s  in all\n' "$SECONDS"
