#!/usr/bin/env bash
# Republishing benchmark: what publishing a 100-page book again after a one-page change
# costs, against publishing it whole. Converts a 100-page PDF with vellumark-batch in a
# private HOME, then in each repetition:
#   - publishes the book whole with our upload plan to a fresh folder of the loopback FTP
#     server (pyftpdlib) and, as the book's owner, to a fresh vellumark-service,
#   - updates the local book with `vellumark-batch --update KEY` to the edition with one
#     page changed (the next repetition changes it back),
#   - publishes it again to both, where only what changed is to be sent.
# Bytes are counted on the server's side of the wire for FTP (the sizes of the files the
# server stored) and as the request bodies the client sent for the service; times are
# those of the publication alone. Every published copy is checked byte for byte. The
# goal: the republication costs at most 5 % of the whole one, in bytes and in time.
# Loopback answers in microseconds, so there the fixed costs of a publication (logging
# in, the service's password check, preparing the update) weigh as much as the files.
# With --link MBIT the whole run happens in a private network namespace whose loopback
# is held to MBIT Mbit/s (a token bucket), as an upload over a user's line is; the
# machine's own network is not touched. That needs root, unshare and tc.
# Results are also written to bench/results/publish-update-<time>.md.
#   bench/publish/update.sh [--pages N] [--reps R] [--build DIR] [--link MBIT]
# Needs /usr/bin/python3 with pyftpdlib (python3-pyftpdlib) and curl.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
pages=100
reps=3
link=""
while [ $# -gt 0 ]; do
  case "$1" in
    --pages) pages=$2; shift ;;
    --reps) reps=$2; shift ;;
    --build) build=$2; shift ;;
    --link) link=$2; shift ;;
    --in-namespace) in_namespace=1 ;;
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
command -v curl >/dev/null || { echo "missing: curl" >&2; exit 1; }
if [ -n "$link" ] && [ -z "${in_namespace:-}" ]; then
  [[ "$link" =~ ^[0-9]+$ ]] && [ "$link" -gt 0 ] || { echo "--link wants a whole number of Mbit/s" >&2; exit 2; }
  exec unshare --net -- "$0" --pages "$pages" --reps "$reps" --build "$build" --link "$link" --in-namespace
fi
if [ -n "$link" ]; then
  # Packets of an internet path's size: a bucket smaller than loopback's 64 KiB packets
  # would hold them back for good.
  ip link set lo mtu 1500 up
  tc qdisc add dev lo root tbf rate "${link}mbit" burst 32kb latency 200ms
fi
mkdir -p "$build"
build=$(cd "$build" && pwd)
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DVELLUMARK_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target publish_bench vellumark-batch vellumark-service rastrix default_config -j2 >/dev/null
bin="$build/bin"
py=/usr/bin/python3

work=$(mktemp -d "$build/publish-update-XXXXXX")
server_pid=""
service_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
source "$here/common.sh"
use_private_home "$work"
mkdir -p "$work/ftp/served" "$work/measures"
measures="$work/measures"

echo "converting a $pages-page PDF..." >&2
$py "$root/bench/engine/make_bench_pdf.py" "$pages" "$work/first.pdf"
$py "$root/bench/engine/make_bench_pdf.py" "$pages" "$work/second.pdf" --changed-page $((pages / 2))
convert_book "$work/first.pdf"
start_ftp_server "$work/ftp"
received="$work/ftp/received.log"

# Bytes of the files the FTP server stored since the last call.
ftp_bytes() {
  local total=0 file
  if [ -f "$received" ]; then
    while IFS= read -r file; do total=$((total + $(stat -c %s "$work/ftp/served/$file"))); done < "$received"
    rm -f "$received"
  fi
  echo "$total"
}

# Publishes the book to FTP folder $1 and to the service with data folder $3, appending
# time and bytes to measures/$2-{ftp,service}.txt.
publish_both() {
  local folder=$1 what=$2 data=$3 seconds
  rm -f "$received"
  seconds=$("$bin/publish_bench" ftp "$book" "$books" "$port" "$folder" 2>/dev/null)
  echo "$seconds $(ftp_bytes)" >> "$measures/$what-ftp.txt"
  $py "$here/compare_books.py" "$book" "$work/ftp/served/$folder/$key" --written book-manifest.txt
  seconds=$(echo bench | "$bin/publish_bench" service "$book" "$books" "$address" bench@example.org \
              "$measures/exchanges.txt" 2>/dev/null)
  echo "$seconds $(awk '{s += $2} END {print s + 0}' "$measures/exchanges.txt")" >> "$measures/$what-service.txt"
  $py "$here/compare_books.py" "$book" "$data/books/$key" --without index.html --written book-manifest.txt
}

mkdir -p "$work/ftp/served/warm"
"$bin/publish_bench" ftp "$book" "$books" "$port" warm >/dev/null  # the skin goes once, as for every later book
editions=("$work/second.pdf" "$work/first.pdf")
for rep in $(seq "$reps"); do
  echo "repetition $rep of $reps..." >&2
  mkdir -p "$work/ftp/served/rep$rep"
  cp -r "$work/ftp/served/warm/skins" "$work/ftp/served/warm/index.js" "$work/ftp/served/warm/RurovOzeza.v1.css" \
        "$work/ftp/served/rep$rep/"
  start_service "$work/service$rep"
  make_account bench@example.org
  publish_both "rep$rep" whole "$work/service$rep"
  "$bin/vellumark-batch" --update "$key" "${editions[(rep - 1) % 2]}" >/dev/null 2>&1 \
    || { echo "vellumark-batch --update failed" >&2; exit 1; }
  publish_both "rep$rep" again "$work/service$rep"
  stop_service
done

mkdir -p "$root/bench/results"
log="$root/bench/results/publish-update-$(date +%Y%m%d-%H%M%S).md"
LINK="$link" $py - "$measures" "$pages" <<'PY' | tee "$log"
import os, statistics, sys
measures, pages = sys.argv[1], sys.argv[2]
def rows(name):
    with open(os.path.join(measures, name)) as f:
        return [tuple(float(v) for v in line.split()) for line in f if line.strip()]
link = os.environ.get("LINK", "")
where = f"loopback held to {link} Mbit/s" if link else "loopback"
print(f"# Publishing a {pages}-page book again after a one-page change ({where})\n")
print("| target | whole: s | whole: MB | again: s | again: MB | time share | byte share |")
print("|---|---|---|---|---|---|---|")
for target, label in (("ftp", "FTP server (pyftpdlib), upload plan"), ("service", "vellumark-service, upload plan")):
    whole, again = rows(f"whole-{target}.txt"), rows(f"again-{target}.txt")
    ws, wb = statistics.median(t for t, _ in whole), statistics.median(b for _, b in whole)
    ag, ab = statistics.median(t for t, _ in again), statistics.median(b for _, b in again)
    print(f"| {label} | {ws:.2f} | {wb / 1e6:.1f} | {ag:.2f} | {ab / 1e6:.2f} | {100 * ag / ws:.1f} % | {100 * ab / wb:.1f} % |")
print("\nMedians of the repetitions; goal: at most 5 % of the whole publication's time and bytes.")
print("FTP bytes are the files the server stored; service bytes are the request bodies the client sent.")
PY
echo "(written to $log)"
