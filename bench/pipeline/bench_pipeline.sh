#!/usr/bin/env bash
# Pipeline benchmark: converts one PDF of at least 100 pages at the shipped default
# settings with vellumark-batch in a private HOME, and reports the job's wall time and
# the share of it spent outside the engine (goal: under 5 %).
#
# The engine's own time is measured by putting a timing wrapper in its place (through the
# configuration's full engine path): every engine run, queries included, is timed from
# start to exit. Time outside the engine = batch wall time - sum of engine run times;
# it holds the configuration load, job bookkeeping, the page generation, the polling
# delay at the end and the process starts.
#
#   bench/pipeline/bench_pipeline.sh [--build DIR] [--pdf FILE] [--pages N] [--keep]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=""
pdf=""
pages=120
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --pdf) pdf=$2; shift ;;
    --pages) pages=$2; shift ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$build" ]; then
  for candidate in "$root"/build "$root"/build-*; do
    if [ -x "$candidate/bin/vellumark-batch" ] && [ -x "$candidate/bin/rastrix" ]; then build=$candidate; break; fi
  done
fi
bin="$build/bin"
[ -x "$bin/vellumark-batch" ] && [ -x "$bin/rastrix" ] || { echo "build vellumark-batch and rastrix first (--build DIR)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vellumark-bench-XXXXXX")
cleanup() { [ "$keep" = 1 ] && echo "kept $work" >&2 || rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/home/Documents" "$work/data" "$work/config" "$work/runtime" "$work/shared"
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
       XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_DIRS="$work/shared" XDG_DOCUMENTS_DIR="$work/home/Documents"

if [ -z "$pdf" ]; then
  pdf="$work/bench.pdf"
  python3 "$root/tests/pipeline/make_book_pdf.py" "$pdf" --pages "$pages" --title "Benchmark Book"
fi
pdf=$(realpath "$pdf")

# The timing wrapper: runs the real engine with the same arguments and streams, and
# appends "<seconds> <arguments>" to the run log.
cat > "$work/timed-engine" <<'WRAP'
#!/usr/bin/env bash
start=$EPOCHREALTIME
"$BENCH_REAL_ENGINE" "$@"
rc=$?
end=$EPOCHREALTIME
echo "$start $end $*" >> "$BENCH_RUN_LOG"
exit $rc
WRAP
chmod +x "$work/timed-engine"
export BENCH_REAL_ENGINE="$bin/rastrix" BENCH_RUN_LOG="$work/engine-runs.log"

# First start: folders and shipped defaults, then the engine path points at the wrapper.
"$bin/vellumark-batch" --resume >/dev/null 2>&1
config="$work/data/Corvane/Vellumark/config.ini"
python3 - "$config" "$work/timed-engine" <<'PY'
import sys, re
path, engine = sys.argv[1], sys.argv[2]
text = open(path, encoding="utf-8").read()
text = re.sub(r"(?m)^is_fullpath=.*$", "is_fullpath=1", text)
text = re.sub(r"(?m)^program_name=.*$", "program_name=" + engine, text)
open(path, "w", encoding="utf-8").write(text)
PY
: > "$BENCH_RUN_LOG"

start=$EPOCHREALTIME
"$bin/vellumark-batch" "$pdf" > "$work/batch.out" 2> "$work/batch.err" || { echo "batch failed:" >&2; tail -20 "$work/batch.err" >&2; exit 1; }
end=$EPOCHREALTIME

python3 - "$start" "$end" "$BENCH_RUN_LOG" "$pdf" "$(cat "$work/batch.out")" <<'PY'
import sys
start, end, log, pdf, index = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
wall = end - start
runs = []
for line in open(log):
    s, e, args = line.split(" ", 2)
    runs.append((float(e) - float(s), args.strip()))
engine = sum(t for t, _ in runs)
# Engine runs of one job never overlap, so their sum is the engine's share of the wall time.
def kind(args):
    if " -i " in " " + args + " ": return "info query"
    if "-size" in args: return "size query"
    if "-output-dir" in args: return "search"
    if "-postfix" in args: return "cover"
    for folder in ("thumb", "100", "HighRes", "MedRes", "LowRes", "print"):
        if "/" + folder + " " in args + " ": return folder
    return "other"
by_kind = {}
for t, args in runs:
    by_kind[kind(args)] = by_kind.get(kind(args), 0.0) + t
outside = wall - engine
print("PDF:                  %s" % pdf)
print("book page:            %s" % index)
print("job wall time:        %.3f s" % wall)
print("engine runs:          %d, %.3f s" % (len(runs), engine))
for k, t in sorted(by_kind.items(), key=lambda kv: -kv[1]):
    print("  %-18s  %.3f s" % (k, t))
print("outside the engine:   %.3f s = %.2f %% (goal < 5 %%)" % (outside, 100.0 * outside / wall))
PY
