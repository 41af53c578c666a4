#!/usr/bin/env bash
# Publishing benchmark: converts a 100-page PDF once with vellumark-batch in a private
# HOME, then uploads its book folder to a loopback FTP server (pyftpdlib) with our upload
# plan and, in the same run, with `lftp -e "mirror -R"` as the peer. Each is repeated
# into a fresh remote folder; the table gives the median seconds and the ratio (goal:
# at most 1.2). Then the same book goes to our own vellumark-service on 127.0.0.1 (no
# pause between chunks). Results are also written to bench/results/publish-<time>.md.
#   bench/publish/run.sh [--pages N] [--reps R] [--build DIR]
# Needs /usr/bin/python3 with pyftpdlib (python3-pyftpdlib) and lftp.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
pages=100
reps=3
while [ $# -gt 0 ]; do
  case "$1" in
    --pages) pages=$2; shift ;;
    --reps) reps=$2; shift ;;
    --build) build=$2; shift ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
command -v lftp >/dev/null || { echo "missing: lftp" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DVELLUMARK_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target publish_bench vellumark-batch vellumark-service rastrix default_config -j2 >/dev/null
bin="$build/bin"

work=$(mktemp -d "${TMPDIR:-/tmp}/vellumark-bench-XXXXXX")
server_pid=""
service_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home/Documents" "$work/data" "$work/config" "$work/runtime" "$work/shared" "$work/ftp/served"
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
       XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_DIRS="$work/shared" XDG_DOCUMENTS_DIR="$work/home/Documents"

echo "converting a $pages-page PDF..." >&2
python3 "$root/bench/engine/make_bench_pdf.py" "$pages" "$work/bench.pdf"
index=$("$bin/vellumark-batch" "$work/bench.pdf" 2>/dev/null)
book=$(dirname "$index")
books=$(dirname "$book")
key=$(basename "$book")
files=$(find "$book" -type f | wc -l)
bytes=$(du -sb "$book" | cut -f1)

/usr/bin/python3 "$root/tests/publish/ftp_test_server.py" "$work/ftp/served" "$work/ftp/port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/ftp/port" ] && break; sleep 0.1; done
port=$(cat "$work/ftp/port")
mkdir -p "$work/ftp/served/warm"
# The skin and shared files go once, as they do for every book after the first.
"$bin/publish_bench" ftp "$book" "$books" "$port" warm >/dev/null

ours=()
peer=()
for rep in $(seq "$reps"); do
  mkdir -p "$work/ftp/served/ours$rep" "$work/ftp/served/peer$rep"
  cp -r "$work/ftp/served/warm/skins" "$work/ftp/served/warm/index.js" "$work/ftp/served/warm/RurovOzeza.v1.css" \
        "$work/ftp/served/ours$rep/"
  ours+=("$("$bin/publish_bench" ftp "$book" "$books" "$port" "ours$rep")")
  start=$EPOCHREALTIME
  lftp -u alice,secret -p "$port" -e "set ftp:passive-mode on; mirror -R --parallel=1 '$book' '/peer$rep/$key'; quit" \
       127.0.0.1 >/dev/null
  end=$EPOCHREALTIME
  peer+=("$(python3 -c "print(f'{$end - $start:.3f}')")")
  cmp <(cd "$book" && find . -type f -exec md5sum {} + | sort) \
      <(cd "$work/ftp/served/ours$rep/$key" && find . -type f -exec md5sum {} + | sort) >/dev/null ||
    { echo "the published book differs from the local one" >&2; exit 1; }
done

# Our own publishing service: each repetition a fresh account and service data folder.
service=()
for rep in $(seq "$reps"); do
  "$bin/vellumark-service" --data "$work/service$rep" --listen 127.0.0.1 --port 0 > "$work/service$rep.out" 2>/dev/null &
  service_pid=$!
  for _ in $(seq 100); do grep -q listening "$work/service$rep.out" 2>/dev/null && break; sleep 0.1; done
  address=$(sed -n 's|.*listening on http://\([^/]*\)/.*|\1|p' "$work/service$rep.out")
  curl -s -o /dev/null -d "email=bench@example.org&password=bench" "http://$address/createPubAccount.asp"
  service+=("$(echo bench | "$bin/publish_bench" service "$book" "$books" "$address" bench@example.org)")
  kill "$service_pid"; wait "$service_pid" 2>/dev/null || true
  service_pid=""
done

mkdir -p "$root/bench/results"
log="$root/bench/results/publish-$(date +%Y%m%d-%H%M%S).md"
python3 - "$pages" "$files" "$bytes" "${ours[*]}" "${peer[*]}" "${service[*]}" <<'PY' | tee "$log"
import statistics, sys
pages, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
ours = [float(x) for x in sys.argv[4].split()]
peer = [float(x) for x in sys.argv[5].split()]
o, p = statistics.median(ours), statistics.median(peer)
print(f"# Publishing a {pages}-page book by FTP ({files} files, {size / 1e6:.1f} MB, loopback)\n")
print("| uploader | runs (s) | median (s) |")
print("|---|---|---|")
print(f"| upload plan | {' '.join(f'{x:.2f}' for x in ours)} | {o:.2f} |")
print(f"| lftp mirror -R | {' '.join(f'{x:.2f}' for x in peer)} | {p:.2f} |")
print(f"\nratio (ours / peer): {o / p:.2f} (goal: at most 1.2)")
svc = [float(x) for x in sys.argv[6].split()]
print(f"\nthe same book to vellumark-service (loopback, chunks of 48 KiB, no pause between them): "
      f"{' '.join(f'{x:.2f}' for x in svc)} s, median {statistics.median(svc):.2f} s")
PY
echo "(written to $log)"
