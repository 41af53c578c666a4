#!/usr/bin/env bash
# The source folders stand in layers, and no #include goes against them:
#   config/
#   pagegen/ and publish/ (neither includes the other)
#   pipeline/
#   the programs ui/, batch/, support/ and service/ (none includes another; service/
#   sees only config/ and pagegen/)
# engine/ is a program of its own and includes none of them. The core folders (config,
# pagegen, publish, pipeline, engine) see no Qt: no Qt header, no Qt target.
# Prints each include (or Qt link) that breaks a rule and exits 1; exits 0 when none does.
set -euo pipefail
cd "$(dirname "$0")/.."

# What each folder may include besides its own files.
declare -A may_include=(
  [config]=""
  [pagegen]="config"
  [publish]="config"
  [pipeline]="config pagegen publish"
  [ui]="config pagegen publish pipeline"
  [batch]="config pagegen publish pipeline"
  [support]="config pagegen publish pipeline"
  [service]="config pagegen"
  [engine]=""
)
folders="config pagegen publish pipeline ui batch support service engine"
core="config pagegen publish pipeline engine"

# Sets `to` to the top folder of the repository that `target`, included from `file`,
# names; empty for a header from outside the repository (system, library or generated).
resolve() {
  local file=$1 target=$2 quoted=$3 path=""
  to=""
  # A quoted include is looked for beside the including file first.
  if [[ $quoted == 1 && -e "${file%/*}/$target" ]]; then
    path="${file%/*}/$target"
  elif [[ -e $target ]]; then
    path=$target
  elif [[ $target == */* && -d ${target%%/*} ]]; then
    path=$target  # a repository header that does not exist (yet) still names its folder
  fi
  [[ $path == *..* || $path == ./* || $path == */./* ]] && path=$(realpath -m --relative-to=. "$path")
  if [[ -n $path && $path != ../* && $path == */* ]]; then to=${path%%/*}; fi
  return 0
}

failures=0
for folder in $folders; do
  allowed=" $folder ${may_include[$folder]} "
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]+) ]] || continue
    quoted=0
    [[ ${BASH_REMATCH[1]} == '"' ]] && quoted=1
    target=${BASH_REMATCH[2]}
    resolve "$file" "$target" "$quoted"
    if [[ -n $to && $allowed != *" $to "* ]]; then
      echo "$file:$line: includes $target, but $folder/ may include only: ${may_include[$folder]:-nothing outside itself}" >&2
      failures=$((failures + 1))
    fi
  done < <(grep -rnE --include='*.h' --include='*.hpp' --include='*.c' --include='*.cc' --include='*.cpp' \
             '^\s*#\s*include' "$folder")
done

for folder in $core; do
  while IFS= read -r hit; do
    echo "$hit: a Qt header in the core" >&2
    failures=$((failures + 1))
  done < <(grep -rnE '^\s*#\s*include\s*[<"]Q[A-Za-z]*(/|>|")' "$folder" || true)
  while IFS= read -r hit; do
    echo "$hit: the core links Qt" >&2
    failures=$((failures + 1))
  done < <(grep -rnE --include=CMakeLists.txt --include='*.cmake' 'Qt[56]?::|find_package\(\s*Qt' "$folder" || true)
done

if ((failures > 0)); then
  echo "check-layers: $failures include(s) or link(s) against the folder order or the Qt-free core (above)." >&2
  exit 1
fi
