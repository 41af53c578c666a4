#!/usr/bin/env bash
# The service's set-ups side by side: PUBLISHERS publishers at once (default 50) publish a
# book of FILES files each (default 20) through nginx to one service process on SQLite,
# one on PostgreSQL and two on one PostgreSQL database; files stored per second and the
# p50 and p95 answer times (PostgreSQL durable, as SQLite is). Results also go to bench/results/instances-<time>.md.
#   bench/publish/instances.sh [PUBLISHERS] [FILES] [REPS]
# The set-ups take turns for REPS rounds (default 3); the table gives the medians.
# Run as root (the benchmark's PostgreSQL runs as the postgres user); needs nginx and
# postgresql-15 (scripts/install-deps.sh --test).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake --build "$build" --target instances_bench vellumark-service >/dev/null
mkdir -p "$root/bench/results"
out="$root/bench/results/instances-$(date -u +%Y%m%d-%H%M%S).md"
VELLUMARK_PROGRAM_DIR="$build/bin" "$build/bin/instances_bench" "$@" | tee "$out"
echo "written to $out"
