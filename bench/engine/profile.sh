#!/usr/bin/env bash
# Where a zoom run (two layers at 120 dpi, the default job's settings) spends its time:
# records it with perf and prints the share of each page stage (profile_stages.py).
#   bench/engine/profile.sh RASTRIX PDF [THREADS]
# Needs perf (Debian: linux-perf). A release build profiles fine: the call chains are
# unwound from the programs' unwind tables.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rastrix=$1 pdf=$2 threads=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
RASTRIX_THREADS=$threads perf record -q -F 1000 --call-graph dwarf,32768 -o "$work/perf.data" \
  "$rastrix" -r 120 -o none -jpeg-quality 25 -jpeg-smoothing-factor 100 -png-single-bit-alpha -bf \
  -d "$work/out" "$pdf" 2>/dev/null
perf script -i "$work/perf.data" -F comm,ip,sym,dso 2>/dev/null | python3 "$here/profile_stages.py" 1000
echo "foreground PNG bytes: $(cat "$work"/out/*.png | wc -c), background JPEG bytes: $(cat "$work"/out/*.jpg | wc -c)"
