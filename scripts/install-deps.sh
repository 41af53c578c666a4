#!/usr/bin/env bash
# Installs the Debian packages (and the npm test tools) that building and testing need.
# Idempotent and quiet when nothing is missing. Run as root on Debian 12.
#   scripts/install-deps.sh          build and run dependencies
#   scripts/install-deps.sh --test   also the tools the test suite drives
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake g++ make pkg-config ninja-build
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  libsqlite3-dev sqlite3 libpq-dev
  libcurl4-openssl-dev libssl-dev libssh2-1-dev
  libsodium-dev nlohmann-json3-dev
  libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev
  libfreetype-dev libharfbuzz-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev
  librsvg2-bin dpkg-dev
  esbuild
  libsecret-1-dev
)
if [ "${1:-}" = "--test" ]; then
  packages+=(python3 python3-pyftpdlib chromium xvfb xauth fonts-dejavu-core mupdf-tools poppler-utils time lftp rclone
    desktop-file-utils appstream nginx openssl gnome-keyring dbus-daemon)
  # Node.js may come from another source than Debian (whose npm then conflicts with it):
  # only ask Debian for it when there is none.
  command -v node >/dev/null || packages+=(nodejs)
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The transport tests start sshd and vsftpd of their own on loopback, the service tests a
# PostgreSQL server of their own, the farm test its own munged, slurmctld and slurmd.
# Installing these packages must not leave system services running (an SSH or FTP login to
# this machine, the system's database cluster, a cluster controller): they are installed
# with service starts refused and left disabled.
if [ "${1:-}" = "--test" ]; then
  servers=()
  for p in openssh-server vsftpd postgresql-15 munge slurm-wlm; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || servers+=("$p")
  done
  if [ ${#servers[@]} -gt 0 ]; then
    echo "Installing: ${servers[*]} (services not started)"
    guard=/usr/sbin/policy-rc.d
    made_guard=
    if [ ! -e "$guard" ]; then
      printf '#!/bin/sh\nexit 101\n' > "$guard" && chmod 755 "$guard" && made_guard=1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${servers[@]}" >/dev/null || { [ -n "$made_guard" ] && rm -f "$guard"; exit 1; }
    [ -n "$made_guard" ] && rm -f "$guard"
    if command -v systemctl >/dev/null; then
      for p in "${servers[@]}"; do
        case "$p" in
          openssh-server) units=(ssh.service) ;;
          postgresql-15) units=(postgresql.service) ;;
          munge) units=(munge.service) ;;
          slurm-wlm) units=(slurmctld.service slurmd.service) ;;
          *) units=(vsftpd.service) ;;
        esac
        for unit in "${units[@]}"; do systemctl disable --now "$unit" >/dev/null 2>&1 || true; done
      done
    fi
  fi
fi

# The viewer tests' npm packages, as pinned by package-lock.json, when any is missing.
if [ "${1:-}" = "--test" ] && [ -f tests/viewer/package.json ] &&
   ! (cd tests/viewer && npm ls --depth=0 >/dev/null 2>&1); then
  echo "Installing the npm packages of the viewer tests"
  (cd tests/viewer && npm ci --silent --no-audit --no-fund >/dev/null)
fi
