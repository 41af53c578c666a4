#!/usr/bin/env bash
# Builds the engine's fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) and runs
# them for a bounded time, one job each.
#   engine/fuzz/run.sh [SECONDS] [document|options|both]   (default 300 seconds, both)
# Findings land in build-fuzz/findings/<target>/ (crash-*, timeout-*, oom-*, and slow-unit-*
# for inputs slower than 10 s, which are reported but are no failure); a replay:
#   build-fuzz/bin/rastrix_fuzz_document build-fuzz/findings/document/crash-...
# The script exits non-zero when a target found something.
set -euo pipefail
seconds=${1:-300}
which_targets=${2:-both}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DVELLUMARK_FUZZ=ON -DVELLUMARK_BUILD_UI=OFF -DVELLUMARK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target rastrix_fuzz_document rastrix_fuzz_options -j"${FUZZ_BUILD_JOBS:-2}"

case $which_targets in
  both) targets=(document options) ;;
  document|options) targets=("$which_targets") ;;
  *) echo "unknown target set: $which_targets" >&2; exit 2 ;;
esac

pids=()
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t          # grows while fuzzing; seeded from the kept corpus
  findings=$build/findings/$t
  mkdir -p "$corpus" "$findings" "$build/tmp-$t"
  dict=()
  [ -f "$here/$t.dict" ] && dict=(-dict="$here/$t.dict")
  # -close_fd_mask=3: the engine's own output goes to /dev/null, libFuzzer's reports stay.
  # Time limit per input generous for the document target: a page can take a while under
  # the sanitizers, a real hang takes far longer.
  TMPDIR=$build/tmp-$t "$build/bin/rastrix_fuzz_$t" "$corpus" "$here/corpus/$t" \
    "${dict[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=200000 \
    -close_fd_mask=3 -artifact_prefix="$findings/" -print_final_stats=1 \
    >"$build/fuzz-$t.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then status=1; fi
  t=${targets[$i]}
  echo "== $t: $(grep -E '^stat::number_of_executed_units' "$build/fuzz-$t.log" | awk '{print $2}') inputs run"
  # Slow inputs are worth a look but are no failure (the sanitizers slow everything down).
  ls "$build/findings/$t" 2>/dev/null | grep -v '^slow-unit-' | sed 's/^/   finding: /' || true
  ls "$build/findings/$t" 2>/dev/null | grep '^slow-unit-' | sed 's/^/   slow input: /' || true
  rm -rf "$build/tmp-$t"
done
exit $status
