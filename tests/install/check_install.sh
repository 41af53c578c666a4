#!/usr/bin/env bash
# Installs a build into a temporary root (prefix /usr) and checks what a desktop and a
# user meet there: the programs start through their links in /usr/bin and find the
# shipped defaults in their own folder, a PDF converts with the installed copy, and the
# desktop files, icons and metainfo are complete and valid.
#   check_install.sh BUILD_DIR ROOT SAMPLE_PDF
set -euo pipefail
build=$1 root=$2 sample=$3
ui=${VELLUMARK_BUILD_UI:-ON}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

rm -rf "$root"
DESTDIR=$root "${CMAKE_COMMAND:-cmake}" --install "$build" --prefix /usr >/dev/null
prog=$root/usr/lib/vellumark

# The programs and their links: each link leads into the program folder.
links=(vellumark-batch vellumark-service)
[ "$ui" = ON ] && links+=(vellumark vellumark-support)
[ -x "$prog/rastrix" ] || fail "rastrix is not in the program folder"
[ ! -e "$root/usr/bin/rastrix" ] || fail "the engine has a link in /usr/bin"
for name in "${links[@]}"; do
  link=$root/usr/bin/$name
  [ -L "$link" ] || { fail "$name: no link in /usr/bin"; continue; }
  [ "$(readlink "$link")" = "../lib/vellumark/$name" ] || fail "$name: link leads to $(readlink "$link")"
  [ -x "$link" ] || fail "$name: the link does not reach a program"
done
for file in config.ini app.ini meta.ini lang_en.ini lang_fr.ini data.db3 Upload/booklet.asp; do
  [ -s "$prog/DefaultCfg/$file" ] || fail "DefaultCfg/$file is missing or empty"
done
[ ! -e "$prog/DefaultCfg/.stamp" ] || fail "the build's stamp file was installed"
if [ -f "$source_dir/help/index.html" ]; then
  [ -s "$prog/help/index.html" ] || fail "the help was not installed beside the programs"
fi

# A private home, so that nothing of the user running the test is read or changed.
new_home() {
  local home
  home=$(mktemp -d "$root/home.XXXXXX")
  mkdir -p "$home/Documents"
  mkdir -m 700 "$home/run"
  echo "$home"
}
run_as_user() {
  local home=$1
  shift
  env -u VELLUMARK_PROGRAM_DIR -u XDG_DATA_DIRS -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run" \
    XDG_DOCUMENTS_DIR="$home/Documents" "$@"
}

# The batch command converts the sample through its link; the first run copied the
# shipped settings into the user's data folder, which proves the link found them.
home=$(new_home)
if out=$(run_as_user "$home" "$root/usr/bin/vellumark-batch" "$sample" 2>"$home/stderr"); then
  index=$(printf '%s\n' "$out" | tail -n 1)
  case $index in
    "$home"/Documents/*/index.html) [ -s "$index" ] || fail "the batch command printed $index, which is empty or missing" ;;
    *) fail "the batch command printed '$out', not a book in the documents folder" ;;
  esac
  [ -s "$home/data/Corvane/Vellumark/config.ini" ] || fail "the batch command did not copy the shipped config.ini"
  [ -s "$home/data/Corvane/Vellumark/data.db3" ] || fail "the batch command did not copy the shipped data.db3"
else
  fail "the installed batch command failed: $(cat "$home/stderr")"
fi

# The Qt programs start (offscreen) and are still running after a few seconds.
still_running() {  # NAME HOME: true when the program outlived the time-out
  local status=0
  run_as_user "$2" env QT_QPA_PLATFORM=offscreen timeout 4 "$root/usr/bin/$1" >"$2/out" 2>&1 || status=$?
  [ "$status" = 124 ] || { fail "$1 ended with status $status: $(cat "$2/out")"; return 1; }
}
if [ "$ui" = ON ]; then
  home=$(new_home)
  if still_running vellumark "$home"; then
    [ -s "$home/data/Corvane/Vellumark/config.ini" ] || fail "vellumark did not copy the shipped config.ini"
    [ -s "$home/Documents/vAziruduues/index.js" ] || fail "vellumark did not fill the books folder from DefaultCfg/Upload"
  fi
  home=$(new_home)
  still_running vellumark-support "$home" || true
fi

# Desktop entries, icons and metainfo.
if [ "$ui" = ON ]; then
  share=$root/usr/share
  for entry in com.corvane.vellumark.desktop vellumark-support.desktop; do
    [ -f "$share/applications/$entry" ] || { fail "$entry is not installed"; continue; }
    "${DESKTOP_FILE_VALIDATE:-desktop-file-validate}" "$share/applications/$entry" || fail "$entry is not valid"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$share/applications/$entry")
    [ -x "$root/usr/bin/$exec_name" ] || fail "$entry starts $exec_name, which is not in /usr/bin"
  done
  "${APPSTREAMCLI:-appstreamcli}" validate --no-net --pedantic "$share/metainfo/com.corvane.vellumark.metainfo.xml" ||
    fail "the metainfo file is not valid"
  grep -q "<release version=\"$(sed -n 's/.*kVersion = "\(.*\)";.*/\1/p' "$source_dir/config/AppConfig.h")\"" \
    "$share/metainfo/com.corvane.vellumark.metainfo.xml" || fail "the metainfo's release is not the program's version"
  [ -s "$share/icons/hicolor/scalable/apps/com.corvane.vellumark.svg" ] || fail "the SVG icon is missing"
  for size in 16 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/com.corvane.vellumark.png
    # Width and height are the big-endian words at bytes 16 and 20 of a PNG file.
    got=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$got" = "${size}x$size" ] || fail "$png is ${got:-missing}, not ${size}x$size"
  done
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures installation check(s) failed" >&2
  exit 1
fi
echo "installation checks passed"
