#!/usr/bin/env bash
# Publishing benchmark. Converts a 100-page PDF once with vellumark-batch in a private
# HOME, then, in each repetition and in this order:
#   - uploads the book folder to a loopback FTP server (pyftpdlib) with our upload plan,
#     once as it publishes (each file under a temporary name, then renamed over the old
#     one) and once writing each file under its final name, to weigh what the first costs,
#   - uploads it to the same server with `lftp -e "mirror -R"` (the peer of our FTP upload),
#   - publishes it to our own vellumark-service on 127.0.0.1 with the same upload plan
#     (a fresh service, data folder and account each time),
# each into a fresh remote folder, and checks every published copy byte for byte. The
# table gives the medians and the ratios FTP/lftp (goal: at most 1.2), whole files/in
# place (goal: at most 1.1) and service/FTP (goal: at most 1.0). The pause before each
# chunk sent to the service is a user setting (http_wait_after_upld_chunk); the
# benchmark sets it to its least, 1 ms.
# Then PUBLISHERS accounts publish a book each (the same book under as many job keys)
# to one service at the same time, each from its own client process; afterwards every
# file of every book is checked byte for byte, and the answer time of each exchange
# (p50, p95, max, measured in the clients) and the service's peak memory are reported.
# Results are also written to bench/results/publish-<time>.md.
#   bench/publish/run.sh [--pages N] [--reps R] [--publishers P] [--build DIR] [--transports|--update [--link MBIT]]
# --publishers 0 leaves the concurrency case out (default 50). --transports runs instead
# the SFTP and FTP-with-TLS comparison of transports.sh, --update the republication after
# a one-page change of update.sh (both with --pages, --reps, --build; --link MBIT holds
# the republication's loopback to that rate, see update.sh).
# Needs /usr/bin/python3 with pyftpdlib (python3-pyftpdlib), lftp and curl.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
pages=100
reps=3
publishers=50
transports=0
update=0
link=()
while [ $# -gt 0 ]; do
  case "$1" in
    --pages) pages=$2; shift ;;
    --reps) reps=$2; shift ;;
    --publishers) publishers=$2; shift ;;
    --build) build=$2; shift ;;
    --transports) transports=1 ;;
    --update) update=1 ;;
    --link) link=(--link "$2"); shift ;;
    -h|--help) sed -n '2,25p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ "$transports" = 1 ] && exec "$here/transports.sh" --pages "$pages" --reps "$reps" --build "$build"
[ "$update" = 1 ] && exec "$here/update.sh" --pages "$pages" --reps "$reps" --build "$build" "${link[@]}"
mkdir -p "$build"
build=$(cd "$build" && pwd)
for tool in lftp curl; do command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }; done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DVELLUMARK_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target publish_bench vellumark-batch vellumark-service rastrix default_config -j2 >/dev/null
bin="$build/bin"
py=/usr/bin/python3

# The scratch folder (books, FTP and service data) is in the build folder: on a disk, as
# a service's data is, and away from /tmp, where other programs' churn can make creating
# a file cost milliseconds.
work=$(mktemp -d "$build/publish-bench-XXXXXX")
server_pid=""
service_pid=""
publisher_pids=()
cleanup() {
  for pid in "${publisher_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A stop by signal ends the script through its exit, so that the servers go too.
trap "exit 1" INT TERM HUP
source "$here/common.sh"
use_private_home "$work"
mkdir -p "$work/ftp/served" "$work/measures"
measures="$work/measures"

echo "converting a $pages-page PDF..." >&2
python3 "$root/bench/engine/make_bench_pdf.py" "$pages" "$work/bench.pdf"
convert_book "$work/bench.pdf"
start_ftp_server "$work/ftp"
mkdir -p "$work/ftp/served/warm"
# The skin and shared files go once, as they do for every book after the first.
"$bin/publish_bench" ftp "$book" "$books" "$port" warm >/dev/null

for rep in $(seq "$reps"); do
  echo "repetition $rep of $reps..." >&2
  # Whole files (a temporary name, then a rename) and, to weigh what that costs, files
  # written under their final names; which goes first alternates.
  order=(whole in-place)
  [ $((rep % 2)) = 0 ] && order=(in-place whole)
  for how in "${order[@]}"; do
    folder="ours-$how$rep"
    mkdir -p "$work/ftp/served/$folder"
    cp -r "$work/ftp/served/warm/skins" "$work/ftp/served/warm/index.js" "$work/ftp/served/warm/RurovOzeza.v1.css" \
          "$work/ftp/served/$folder/"
    if [ "$how" = whole ]; then
      "$bin/publish_bench" ftp "$book" "$books" "$port" "$folder" >> "$measures/ftp.txt"
    else
      "$bin/publish_bench" --in-place ftp "$book" "$books" "$port" "$folder" >> "$measures/ftp-in-place.txt"
    fi
    $py "$here/compare_books.py" "$book" "$work/ftp/served/$folder/$key" --written book-manifest.txt
  done
  mkdir -p "$work/ftp/served/peer$rep"

  start=$EPOCHREALTIME
  lftp -u alice,secret -p "$port" -e "set ftp:passive-mode on; mirror -R --parallel=1 '$book' '/peer$rep/$key'; quit" \
       127.0.0.1 >/dev/null
  end=$EPOCHREALTIME
  python3 -c "print(f'{$end - $start:.3f}')" >> "$measures/lftp.txt"

  start_service "$work/service$rep"
  make_account bench@example.org
  echo bench | "$bin/publish_bench" service "$book" "$books" "$address" bench@example.org \
                 "$measures/service-times-$rep.txt" 2>/dev/null >> "$measures/service.txt"
  stop_service "$measures/service-memory.txt"
  $py "$here/compare_books.py" "$book" "$work/service$rep/books/$key" --without index.html --written book-manifest.txt
done

if [ "$publishers" -gt 0 ]; then
  echo "$publishers publishers at once..." >&2
  many="$measures/many"
  mkdir -p "$many" "$work/many"
  echo "$publishers" > "$many/publishers.txt"
  # Each publisher's book is the converted one under a job key of its own (hard links:
  # the clients only read them).
  keys=()
  for i in $(seq "$publishers"); do
    keys+=("$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n' | tr a-f A-F)")
    cp -al "$book" "$work/many/${keys[-1]}"
  done
  signups=$(( publishers > 100 ? publishers : 100 ))
  start_service "$work/service-many" --signups-per-hour "$signups"
  for i in $(seq "$publishers"); do make_account "publisher$i@example.org"; done
  start=$EPOCHREALTIME
  for i in $(seq "$publishers"); do
    echo bench | "$bin/publish_bench" service "$work/many/${keys[i-1]}" "$books" "$address" "publisher$i@example.org" \
                   "$many/times-$i.txt" > "$many/seconds-$i.txt" 2>"$many/errors-$i.txt" &
    publisher_pids+=($!)
  done
  failed=0
  for pid in "${publisher_pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
  publisher_pids=()
  end=$EPOCHREALTIME
  python3 -c "print(f'{$end - $start:.3f}')" > "$many/wall.txt"
  stop_service "$many/memory.txt"
  if [ "$failed" -gt 0 ]; then
    echo "$failed of $publishers publishers failed; the first one's log:" >&2
    grep -l . "$many"/errors-*.txt | head -1 | xargs -r tail -5 >&2
    exit 1
  fi
  cat "$many"/seconds-*.txt > "$many/seconds.txt"
  checked=0
  for k in "${keys[@]}"; do
    $py "$here/compare_books.py" "$work/many/$k" "$work/service-many/books/$k" --without index.html --written book-manifest.txt
    checked=$((checked + $(find "$work/service-many/books/$k" -type f | wc -l)))
  done
  echo "$checked" > "$many/files.txt"
fi

mkdir -p "$root/bench/results"
log="$root/bench/results/publish-$(date +%Y%m%d-%H%M%S).md"
$py "$here/report.py" "$measures" "$book" "$pages" | tee "$log"
echo "(written to $log)"
