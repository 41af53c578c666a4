#!/usr/bin/env bash
# Farm benchmark on this machine: the same PDFs converted as one farm task and as two
# tasks running side by side (as two array tasks of a one-node Slurm cluster would), books
# per minute for each, and one task with twice the job slots; then the farm's own cost per item (reading the list, hashing the
# PDF, the results lines, the task folder) against a plain vellumark-batch of one PDF, and
# the time of --farm-report over the farm. Each run has a private HOME.
#
#   bench/farm/run.sh [--build DIR] [--pdfs N] [--pages N] [--repeat N] [--keep]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build="" pdfs=40 pages=3 repeat=5 keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --pdfs) pdfs=$2; shift ;;
    --pages) pages=$2; shift ;;
    --repeat) repeat=$2; shift ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
build=${build:-$root/build}
batch="$build/bin/vellumark-batch"
[ -x "$batch" ] && [ -x "$build/bin/rastrix" ] || { echo "build vellumark-batch and rastrix first (--build DIR)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vellumark-farm-bench-XXXXXX")
cleanup() { if [ "$keep" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi; }
trap cleanup EXIT
mkdir -p "$work/home/Documents" "$work/data" "$work/config" "$work/pdfs"
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
       XDG_DOCUMENTS_DIR="$work/home/Documents"

# The PDFs, each of its own title, made by one interpreter.
/usr/bin/python3 - "$root/tests/pipeline/make_book_pdf.py" "$work/pdfs" "$pdfs" "$pages" <<'PY'
import runpy, sys
script, folder, count, pages = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
for i in range(count):
    sys.argv = ["make", "%s/book-%03d.pdf" % (folder, i), "--pages", pages, "--title", "Farm Book %d" % i]
    runpy.run_path(script, run_name="__main__")
PY
ls "$work"/pdfs/book-*.pdf > "$work/list.txt"
"$batch" --resume >/dev/null 2>&1  # the first start sets the folders up
threads=$(sed -n 's/^threads_limit=//p' "$work/data/Corvane/Vellumark/config.ini" | head -1)

now() { echo "$EPOCHREALTIME"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
per_minute() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", n * 60 / s }'; }

# One task.
start=$(now)
"$batch" --list "$work/list.txt" --farm "$work/one" > /dev/null 2> "$work/one.err" || { tail "$work/one.err" >&2; exit 1; }
one=$(seconds "$start" "$(now)")

# Two tasks at once.
start=$(now)
"$batch" --list "$work/list.txt" --slice 0/2 --farm "$work/two" > /dev/null 2> "$work/two-0.err" & first=$!
"$batch" --list "$work/list.txt" --slice 1/2 --farm "$work/two" > /dev/null 2> "$work/two-1.err" & second=$!
wait "$first" && wait "$second" || { tail "$work"/two-*.err >&2; exit 1; }
two=$(seconds "$start" "$(now)")

# One task with as many job slots as the two tasks had together: what the second task
# adds beyond more conversions at once.
config="$work/data/Corvane/Vellumark/config.ini"
sed -i "s/^threads_limit=.*/threads_limit=$((threads * 2))/" "$config"
start=$(now)
"$batch" --list "$work/list.txt" --farm "$work/wide" > /dev/null 2> "$work/wide.err" || { tail "$work/wide.err" >&2; exit 1; }
wide=$(seconds "$start" "$(now)")
sed -i "s/^threads_limit=.*/threads_limit=$threads/" "$config"

for farm in one two wide; do
  done_count=$(cat "$work/$farm"/task-*/results.jsonl | grep -c '"outcome":"done"' || true)
  [ "$done_count" = "$pdfs" ] || { echo "$farm: $done_count of $pdfs books done" >&2; exit 1; }
done

# The farm's cost per item: one PDF, plain and as a farm task, each run $repeat times
# (every farm run in a fresh farm folder, so that each converts).
one_pdf=$(head -1 "$work/list.txt")
echo "$one_pdf" > "$work/one-item.txt"
# The fastest of the runs counts: the machine's other load only ever adds time.
# A farm task in a fresh farm folder also sets its books folder up (the viewer's shared
# files, the skin): once per task. In its folder again, only the per-item cost remains.
plain=999 fresh=999 again=999
fastest() { awk -v t="$1" -v a="$2" -v b="$3" 'BEGIN { d = b - a; printf "%.3f", d < t ? d : t }'; }
for i in $(seq "$repeat"); do
  start=$(now); "$batch" "$one_pdf" > /dev/null 2>&1; plain=$(fastest "$plain" "$start" "$(now)")
  start=$(now); "$batch" --list "$work/one-item.txt" --farm "$work/single-$i" > /dev/null 2>&1
  fresh=$(fastest "$fresh" "$start" "$(now)")
  start=$(now); "$batch" --list "$work/one-item.txt" --farm "$work/single-$i" > /dev/null 2>&1
  again=$(fastest "$again" "$start" "$(now)")
done
ms_more() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.0f", (b - a) * 1000 }'; }

# Skipping a done item (--only-failed over the whole finished list): the hashing and
# reading of the results alone.
start=$(now)
"$batch" --list "$work/list.txt" --farm "$work/one" --only-failed > /dev/null 2>&1
skip=$(seconds "$start" "$(now)")
start=$(now)
"$batch" --farm-report "$work/two" > /dev/null || true
report=$(seconds "$start" "$(now)")

cores=$(nproc)
printf '%s PDFs of %s pages, %s cores, threads_limit=%s per task\n' "$pdfs" "$pages" "$cores" "$threads"
printf '%-34s %10s %14s\n' "run" "seconds" "books/minute"
printf '%-34s %10s %14s\n' "1 task" "$one" "$(per_minute "$pdfs" "$one")"
printf '%-34s %10s %14s\n' "2 tasks side by side" "$two" "$(per_minute "$pdfs" "$two")"
printf '%-34s %10s %14s\n' "1 task, threads_limit=$((threads * 2))" "$wide" "$(per_minute "$pdfs" "$wide")"
printf 'one PDF, fastest of %s: plain %s s; as a farm task in its folder again %s s (%s ms),\n' \
  "$repeat" "$plain" "$again" "$(ms_more "$plain" "$again")"
printf '  in a fresh farm folder %s s (%s ms: the task start-up)\n' "$fresh" "$(ms_more "$plain" "$fresh")"
printf -- '--only-failed over the %s done items: %s s; --farm-report over %s items: %s s\n' \
  "$pdfs" "$skip" "$pdfs" "$report"
