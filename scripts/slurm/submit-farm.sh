#!/bin/bash
# Submits a backlog of PDFs to Slurm: a job array of N tasks, each converting its slice of
# the list into the farm folder, and then the report step, a job that waits for the whole
# array (whatever its tasks' ends) and merges their results into FARM/report.txt and
# FARM/report.json.
#
#   submit-farm.sh --list FILE --farm DIR --tasks N [--publish] [--batch PATH] [-- SBATCH-OPTIONS...]
#
# Run it again with the same list and farm folder to complete what failed or was killed:
# the tasks skip every PDF that is done. Options after "--" go to both sbatch calls
# (--partition, --account, ...); the array's resources are in vellumark-farm.sbatch and
# may be overridden there too (--cpus-per-task=4). Prints the array's and the report's
# job IDs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list= farm= tasks= publish=0 batch=vellumark-batch
usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --list) list=${2:?}; shift 2 ;;
    --farm) farm=${2:?}; shift 2 ;;
    --tasks) tasks=${2:?}; shift 2 ;;
    --publish) publish=1; shift ;;
    --batch) batch=${2:?}; shift 2 ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[ -n "$list" ] && [ -n "$farm" ] && [[ "$tasks" =~ ^[1-9][0-9]*$ ]] || usage
[ -r "$list" ] || { echo "submit-farm.sh: cannot read the list $list" >&2; exit 1; }
# The tasks run elsewhere, in other folders: every path they get is absolute.
list=$(realpath "$list")
mkdir -p "$farm/logs"
farm=$(realpath "$farm")
case "$batch" in */*) batch=$(realpath "$batch") ;; esac

array=$(sbatch --parsable --array="0-$((tasks - 1))" --output="$farm/logs/task-%a.out" \
  --export="ALL,VELLUMARK_LIST=$list,VELLUMARK_FARM=$farm,VELLUMARK_PUBLISH=$publish,VELLUMARK_BATCH=$batch" \
  "$@" "$here/vellumark-farm.sbatch")
array=${array%%;*}
# afterany: the report is made also when tasks failed or were cancelled; it is what says so.
report=$(sbatch --parsable --job-name=vellumark-farm-report --dependency="afterany:$array" --cpus-per-task=1 \
  --output="$farm/logs/report.out" "$@" --wrap="$(printf '%q --farm-report %q' "$batch" "$farm")")
report=${report%%;*}
echo "array $array report $report"
