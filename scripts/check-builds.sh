#!/usr/bin/env bash
# Builds every standard build type with GCC and with Clang, warnings as errors, tests
# included, each in a folder of its own under build-check/. The desktop programs build
# in GCC Release and Clang Debug; elsewhere they are left out to save time.
#   scripts/check-builds.sh [--no-tests] [COMPILER-TYPE...]   e.g. gcc-MinSizeRel clang-Release
# --no-tests leaves the test suite out of every build (quicker; programs and libraries only).
# Prints one line per build and ends with status 1 when any failed (its log stays in
# build-check/COMPILER-TYPE.log).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
command -v clang++ >/dev/null || apt-get install -y -qq --no-install-recommends clang >/dev/null

tests=ON
if [ "${1:-}" = --no-tests ]; then
  tests=OFF
  shift
fi
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(gcc-Release gcc-Debug gcc-RelWithDebInfo gcc-MinSizeRel clang-Debug clang-Release)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

failed=0
for build in "${builds[@]}"; do
  compiler=${build%%-*} type=${build#*-}
  case $compiler in
    gcc) compilers=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++) ;;
    clang) compilers=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
    *) echo "unknown compiler in $build" >&2; exit 2 ;;
  esac
  ui=OFF
  case $build in gcc-Release | clang-Debug) ui=ON ;; esac
  dir=build-check/$build
  mkdir -p build-check
  start=$(date +%s)
  if cmake -S . -B "$dir" -G Ninja -Wno-dev "${compilers[@]}" "${launcher[@]}" \
       -DCMAKE_BUILD_TYPE="$type" -DVELLUMARK_WERROR=ON -DVELLUMARK_BUILD_UI=$ui \
       -DVELLUMARK_BUILD_TESTS=$tests >"$dir.log" 2>&1 &&
     cmake --build "$dir" -j"$(nproc)" >>"$dir.log" 2>&1; then
    echo "passed: $build (desktop programs $ui, tests $tests, $(($(date +%s) - start)) s)"
  else
    echo "FAILED: $build (see $dir.log)"
    failed=1
  fi
done
exit $failed
