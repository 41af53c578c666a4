#!/usr/bin/env bash
# Prints the ten slowest tests of one or more CTest runs, from CTest's own timing in their
# output ("... Test  #12: Name ....   Passed   3.21 sec"), so that a slow test is seen.
#   scripts/slowest-tests.sh build/ctest.log [build-asan/ctest.log ...]
# awk reads the whole sorted list rather than head stopping early: with pipefail, a sort
# whose output outgrew the pipe while head had already gone would end the test command
# with SIGPIPE after every test had passed.
set -euo pipefail
echo "The ten slowest tests:"
for log in "$@"; do
  [ -f "$log" ] || continue
  suite=$(basename "$(dirname "$log")")
  sed -nE "s/^.*Test +#[0-9]+: ([^ ]+) .* ([0-9]+\.[0-9]+) sec$/\2 \1 ($suite)/p" "$log"
done | sort -rn | awk 'NR <= 10 { printf "%8.1f s  %s %s\n", $1, $2, $3 }'
