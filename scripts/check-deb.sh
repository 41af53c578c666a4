#!/usr/bin/env bash
# Builds the Debian package and proves that it installs and starts on a clean Debian 12:
# a minimal bookworm system made by debootstrap (kept in the build folder and copied
# afresh for every check), in which apt installs the package with the dependencies it
# declares and nothing else. There the installed batch command converts the sample PDF,
# and the desktop program starts (offscreen) and is still running after a few seconds.
#   scripts/check-deb.sh [BUILD_DIR]    (default build-deb: a Release build without tests)
# Run as root; needs the Debian mirror (DEBIAN_MIRROR, default deb.debian.org).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
export DEBIAN_FRONTEND=noninteractive

scripts/install-deps.sh
if ! command -v debootstrap >/dev/null; then
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=Release -DVELLUMARK_BUILD_TESTS=OFF
else
  cmake --build "$build" -j"$(nproc)" >/dev/null
fi
rm -f "$build"/vellumark_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vellumark_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

base=$build/bookworm-minbase
if [ ! -d "$base" ]; then
  echo "Making a minimal Debian 12 system (once per build folder)"
  rm -rf "$base.tmp"
  debootstrap --variant=minbase bookworm "$base.tmp" "$mirror" >/dev/null
  mv "$base.tmp" "$base"
fi
root=$build/bookworm-check
cleanup() {
  umount "$root/proc" 2>/dev/null || true
}
trap cleanup EXIT
cleanup
rm -rf "$root"
cp -a "$base" "$root"
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${mirror%/debian}/debian-security bookworm-security main
EOF
cp "$deb" "$root/tmp/"
cp data/samples/sample.pdf "$root/tmp/sample.pdf"
in_root() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

in_root apt-get update -qq >/dev/null
packages_before=$(in_root dpkg-query -W -f='.\n' | wc -l)
start=$(date +%s)
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >"$build/apt-install.log" 2>&1 ||
  { cat "$build/apt-install.log" >&2; exit 1; }
seconds=$(($(date +%s) - start))
packages_after=$(in_root dpkg-query -W -f='.\n' | wc -l)
installed_kib=$(in_root dpkg-query -W -f='${Installed-Size}' vellumark)
echo "installed in ${seconds} s with $((packages_after - packages_before - 1)) dependencies; the package takes ${installed_kib} KiB"

# The batch command converts the sample and prints the book's index.html.
if ! index=$(in_root sh -c 'cd /tmp && vellumark-batch sample.pdf' 2>"$build/vellumark-batch.log" | tail -n 1); then
  echo "FAIL: the batch command failed (see $build/vellumark-batch.log)" >&2
  exit 1
fi
case $index in
  */index.html) [ -s "$root$index" ] || { echo "FAIL: $index was not written" >&2; exit 1; } ;;
  *) echo "FAIL: the batch command printed '$index'" >&2; exit 1 ;;
esac
echo "vellumark-batch converted the sample: $index ($(ls "$(dirname "$root$index")" | wc -l) files)"

# The desktop program starts and keeps running until the time-out stops it.
status=0
in_root env QT_QPA_PLATFORM=offscreen timeout 5 vellumark >"$build/vellumark-start.log" 2>&1 || status=$?
if [ "$status" != 124 ]; then
  echo "FAIL: vellumark ended with status $status:" >&2
  cat "$build/vellumark-start.log" >&2
  exit 1
fi
echo "vellumark started and ran until stopped"
echo "the package installs and starts on a clean Debian 12"
