#!/usr/bin/env bash
# Engine benchmark: builds rastrix and the quality probe, makes the benchmark documents
# and prints the tables (also written to bench/results/engine-<time>.md).
#   bench/engine/run.sh [bench.py options: --pages N --mem-pages M (and twice M) --reps R --only KIND ...]
# Needs pdftoppm (poppler-utils), mutool (mupdf-tools) and /usr/bin/time (time).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
results=$root/bench/results

for tool in pdftoppm mutool /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DVELLUMARK_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target rastrix rastrix_quality_probe -j2 >/dev/null

mkdir -p "$results"
log=$results/engine-$(date +%Y%m%d-%H%M%S).md
python3 "$here/bench.py" --bin "$build/bin" --out "$results" "$@" | tee "$log"
echo "(written to $log)"
