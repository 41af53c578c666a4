#!/usr/bin/env bash
# Publishing benchmark over SFTP and FTP over TLS. Converts a 100-page PDF once with
# vellumark-batch in a private HOME, starts on 127.0.0.1, at free ports and with their
# own configuration in the scratch folder, OpenSSH's sshd (its own host key, password
# login, internal-sftp) and vsftpd (TLS with a self-signed certificate made here), both
# serving one folder to the local account "vellumark-test", then in each repetition, in
# this order and each into a fresh remote folder:
#   - our upload plan over SFTP, pinned to the host key's fingerprint, and the same
#     writing each file under its final name (to weigh what replacing whole files costs),
#   - `rclone copy` over SFTP with its defaults (4 transfers at once), trusting the host
#     key through a known_hosts file,
#   - `rclone copy --transfers 1` (one file at a time, as our client sends them),
#   - our upload plan over FTP with TLS, pinned to the certificate's key, and again in place,
#   - `lftp mirror -R` over TLS (data connections protected too), trusting the certificate.
# Every published copy is checked byte for byte. Each upload is timed from outside, from
# the start of its process to its end. The table gives the medians and the ratios
# ours/rclone (goal: at most 1.0 against rclone's defaults) and ours/lftp (goal: at most
# 1.2); it is also written to bench/results/publish-transports-<time>.md.
# With --replace it measures instead what replacing whole files costs when each file is
# already on the server, over FTP (the loopback test server, pyftpdlib), FTP over TLS and
# SFTP: in each repetition and for each transport, the book is republished into a folder
# holding a copy of it (without its manifest, so every file is sent again), once
# uploading each file under a temporary name and renaming it over the old one, once
# writing each file under its final name (which goes first alternates). The table gives
# the medians, the ratio renames / in place (goal: at most 1.10) and the load average
# before the runs; written to bench/results/publish-replace-<time>.md.
#   bench/publish/transports.sh [--pages N] [--reps R] [--build DIR] [--replace]
# Runs as root: the servers log in a local account by password. The account is the one
# the transport tests use: created if absent (no home, no shell), left alone and the run
# refused if an account of that name exists that they did not make, given a new random
# password for the run, and held under the tests' lock so that a test program running at
# the same time never sees its password change. No system service is touched.
# Needs sshd, vsftpd, openssl, rclone, lftp and /usr/bin/python3 (with --replace: pyftpdlib,
# no rclone nor lftp).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
pages=100
reps=3
replace=0
while [ $# -gt 0 ]; do
  case "$1" in
    --pages) pages=$2; shift ;;
    --reps) reps=$2; shift ;;
    --build) build=$2; shift ;;
    --replace) replace=1 ;;
    -h|--help) sed -n '2,34p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ "$(id -u)" = 0 ] || { echo "run as root: the servers log in a local account, which only root may set up" >&2; exit 1; }
for tool in /usr/sbin/sshd /usr/sbin/vsftpd /usr/bin/openssl /usr/bin/ssh-keygen; do
  [ -x "$tool" ] || { echo "missing: $tool" >&2; exit 1; }
done
peers=(rclone lftp)
[ "$replace" = 1 ] && peers=()
for tool in "${peers[@]}" flock chpasswd; do command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }; done
mkdir -p "$build"
build=$(cd "$build" && pwd)
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DVELLUMARK_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target publish_bench vellumark-batch rastrix default_config -j2 >/dev/null
bin="$build/bin"
py=/usr/bin/python3

account=vellumark-test
comment="Vellumark transport tests"
lock=/tmp/vellumark-test-account.lock

# The scratch folder is in the build folder (on a disk, away from the churn of /tmp). The
# servers serve its folder "site" as the account, which must be able to reach it.
work=$(mktemp -d "$build/publish-transports-XXXXXX")
chmod 755 "$work"
sshd_pid=""
vsftpd_pid=""
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null
  [ -n "$vsftpd_pid" ] && kill "$vsftpd_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A stop by signal ends the script through its exit, so that the servers go too.
trap "exit 1" INT TERM HUP
source "$here/common.sh"
use_private_home "$work"
mkdir -p "$work/measures" "$work/sshd" "$work/vsftpd/empty" "$work/site"
chmod 700 "$work/home"
measures="$work/measures"

# The account, under the lock the transport tests take (held until this script ends).
exec 9>>"$lock"
flock -w 600 9 || { echo "another program holds $lock" >&2; exit 1; }
if ! getent passwd "$account" >/dev/null; then
  useradd --system --no-create-home --home-dir / --shell /usr/sbin/nologin --comment "$comment" "$account"
fi
[ "$(getent passwd "$account" | cut -d: -f5)" = "$comment" ] || {
  echo "an account named $account exists that this benchmark and the tests did not make; left alone" >&2; exit 1; }
# vsftpd enters the home folder before the folder it serves, so it must exist.
[ "$(getent passwd "$account" | cut -d: -f6)" = / ] || usermod --home / "$account"
password=$(head -c 30 /dev/urandom | base64 | tr -dc 'a-zA-Z0-9' | head -c 20)
printf '%s:%s\n' "$account" "$password" | chpasswd
chown "$account:" "$work/site"
site="$work/site"

free_port() {
  $py -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits (15 s at most) until port $1 accepts connections while process $2 lives.
wait_for_port() {
  for _ in $(seq 150); do
    kill -0 "$2" 2>/dev/null || return 1
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Times the command given, from its start to its end, appending the seconds to file $1.
timed() {
  local out=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@"
  end=$EPOCHREALTIME
  $py -c "print(f'{$end - $start:.3f}')" >> "$out"
}

# ---- sshd: own host key and configuration; sftp only, for the account, into the site.
# sshd insists on its privilege separation folder, which only a running system service
# would otherwise have made.
[ -d /run/sshd ] || { mkdir -p /run/sshd && chmod 755 /run/sshd; }
ssh-keygen -q -t ed25519 -N "" -C bench-host -f "$work/sshd/host_key"
sftp_fingerprint=$(ssh-keygen -l -E sha256 -f "$work/sshd/host_key.pub" | awk '{print $2}')
ssh_port=$(free_port)
cat > "$work/sshd/sshd_config" <<EOF
Port $ssh_port
ListenAddress 127.0.0.1
HostKey $work/sshd/host_key
PidFile none
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PubkeyAuthentication no
StrictModes no
PermitRootLogin no
AllowUsers $account
AllowTcpForwarding no
X11Forwarding no
MaxStartups 100
Subsystem sftp internal-sftp -d $site
ForceCommand internal-sftp -d $site
EOF
/usr/sbin/sshd -D -e -f "$work/sshd/sshd_config" > "$work/sshd/log" 2>&1 9>&- &
sshd_pid=$!
wait_for_port "$ssh_port" "$sshd_pid" || { echo "sshd did not start: $(tail -3 "$work/sshd/log")" >&2; exit 1; }
echo "[127.0.0.1]:$ssh_port $(cut -d' ' -f1,2 "$work/sshd/host_key.pub")" > "$work/known_hosts"

# ---- vsftpd: TLS required for logins and data, a certificate made for the run.
cert="$work/vsftpd/cert.pem"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/vsftpd/key.pem" -out "$cert" -days 2 \
        -subj /CN=vellumark-bench -addext subjectAltName=IP:127.0.0.1 2>/dev/null
ftps_fingerprint="SHA256:$(openssl x509 -in "$cert" -pubkey -noout | openssl pkey -pubin -outform DER |
                          openssl dgst -sha256 -binary | base64 -w0 | tr -d '=')"
ftp_port=$(free_port)
passive_from=$(free_port)
cat > "$work/vsftpd/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$ftp_port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$site
chroot_local_user=NO
pam_service_name=vellumark-test
userlist_enable=NO
tcp_wrappers=NO
seccomp_sandbox=NO
secure_chroot_dir=$work/vsftpd/empty
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$passive_from
pasv_max_port=$((passive_from + 20 > 65535 ? 65535 : passive_from + 20))
ssl_enable=YES
rsa_cert_file=$cert
rsa_private_key_file=$work/vsftpd/key.pem
force_local_logins_ssl=YES
force_local_data_ssl=YES
xferlog_enable=NO
vsftpd_log_file=$work/vsftpd/vsftpd.log
max_per_ip=0
max_clients=0
EOF
# No PAM service of that name exists: PAM then uses its "other" service, which checks the
# account's password without asking for a login shell the account does not have.
/usr/sbin/vsftpd "$work/vsftpd/vsftpd.conf" > "$work/vsftpd/stderr.log" 2>&1 9>&- &
vsftpd_pid=$!
wait_for_port "$ftp_port" "$vsftpd_pid" || { echo "vsftpd did not start: $(cat "$work/vsftpd/stderr.log")" >&2; exit 1; }

# Remote folders, made by root and handed to the account.
remote_folder() {
  mkdir -p "$site/$1"
  chown "$account:" "$site/$1"
}

# Our client, over protocol $1 into remote folder $2, timed into file $3; with a fourth
# argument --in-place, writing each file under its final name.
ours() {
  local fingerprint=$sftp_fingerprint port=$ssh_port
  [ "$1" = ftps ] && { fingerprint=$ftps_fingerprint; port=$ftp_port; }
  if [ "$1" = ftp ]; then
    # The loopback test server's own account; no password on standard input.
    timed "$3" "$bin/publish_bench" ${4:-} ftp "$book" "$books" "$ftp_test_port" "$2" >/dev/null 2>"$work/ours.log" ||
      { echo "our client failed over ftp:" >&2; tail -5 "$work/ours.log" >&2; exit 1; }
    return
  fi
  printf '%s\n' "$password" | timed "$3" "$bin/publish_bench" ${4:-} "$1" "$book" "$books" "$port" "$2" "$account" \
                                      "$fingerprint" >/dev/null 2>"$work/ours.log" ||
    { echo "our client failed over $1:" >&2; tail -5 "$work/ours.log" >&2; exit 1; }
}

if [ "$replace" = 1 ]; then
  mkdir -p "$work/ftp/served"
  start_ftp_server "$work/ftp"
  ftp_test_port=$port
  echo "converting a $pages-page PDF..." >&2
  python3 "$root/bench/engine/make_bench_pdf.py" "$pages" "$work/bench.pdf"
  convert_book "$work/bench.pdf"
  # The skin and shared files go once, as they do for every book after the first.
  mkdir -p "$work/ftp/served/warm"
  remote_folder warm
  ours ftp warm "$work/warm.txt"
  ours sftp warm "$work/warm.txt"
  # A folder (served at $1) holding the shared files and this book's files without its
  # manifest, owned by the account $2 ("" for the FTP test server).
  published_copy() {
    local shared=$site/warm
    [ -z "$2" ] && shared=$work/ftp/served/warm
    mkdir -p "$1"
    cp -a "$shared/." "$1/"
    rm -rf "${1:?}/$key"
    cp -a "$book" "$1/$key"
    rm -f "$1/$key/book-manifest.txt"
    [ -n "$2" ] && chown -R "$2:" "$1"
    return 0
  }
  uptime | tee "$measures/uptime.txt" >&2
  for rep in $(seq "$reps"); do
    echo "repetition $rep of $reps..." >&2
    order=("" --in-place)
    [ $((rep % 2)) = 0 ] && order=(--in-place "")
    for protocol in ftp ftps sftp; do
      for how in "${order[@]}"; do
        name=$protocol${how:+-in-place}
        folder="replace-$name$rep"
        if [ "$protocol" = ftp ]; then
          served=$work/ftp/served/$folder
          published_copy "$served" ""
        else
          served=$site/$folder
          published_copy "$served" "$account"
        fi
        cut -d' ' -f1 /proc/loadavg >> "$measures/load-$name.txt"
        ours "$protocol" "$folder" "$measures/replace-$name.txt" $how
        $py "$here/compare_books.py" "$book" "$served/$key" --written book-manifest.txt
      done
    done
  done
  uptime | tee -a "$measures/uptime.txt" >&2
  mkdir -p "$root/bench/results"
  log="$root/bench/results/publish-replace-$(date +%Y%m%d-%H%M%S).md"
  {
    $py "$here/report.py" "$measures" "$book" "$pages"
    echo
    echo "Load (uptime) before the first and after the last run:"
    sed 's/^/    /' "$measures/uptime.txt"
    changed=$(git -C "$root" status --porcelain -- publish config | wc -l)
    echo
    echo "Client built from commit $(git -C "$root" rev-parse --short HEAD)$( [ "$changed" -gt 0 ] &&
         echo " with $changed uncommitted files changed in publish/ and config/")."
  } | tee "$log"
  echo "(written to $log)"
  exit 0
fi

# ---- The peers' settings: rclone's remote "bench" from the environment (password
# obscured, host key from known_hosts), lftp's login from ~/.netrc; no secret on a
# command line.
: > "$work/rclone.conf"
export RCLONE_CONFIG="$work/rclone.conf" RCLONE_CONFIG_BENCH_TYPE=sftp RCLONE_CONFIG_BENCH_HOST=127.0.0.1 \
       RCLONE_CONFIG_BENCH_PORT="$ssh_port" RCLONE_CONFIG_BENCH_USER="$account" \
       RCLONE_CONFIG_BENCH_KNOWN_HOSTS_FILE="$work/known_hosts"
RCLONE_CONFIG_BENCH_PASS=$(printf '%s\n' "$password" | rclone obscure -)
export RCLONE_CONFIG_BENCH_PASS
printf 'machine 127.0.0.1 login %s password %s\n' "$account" "$password" > "$HOME/.netrc"
chmod 600 "$HOME/.netrc"
# TLS 1.2, as our client: under TLS 1.3 this vsftpd breaks lftp's data connections now and
# then (426), and lftp waits 15 s or more before each retry.
lftp_settings="set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file '$cert'; set ftp:passive-mode on"
lftp_settings+="; set ssl:priority 'NORMAL:-VERS-TLS1.3'"

echo "converting a $pages-page PDF..." >&2
python3 "$root/bench/engine/make_bench_pdf.py" "$pages" "$work/bench.pdf"
index=$("$bin/vellumark-batch" "$work/bench.pdf" 2>/dev/null)
book=$(dirname "$index")
books=$(dirname "$book")
key=$(basename "$book")


# The skin and shared files go once, as they do for every book after the first; each
# repetition's folder for our client starts with them, as the peers' need none.
remote_folder warm
ours sftp warm "$work/warm.txt"
rm -rf "${site:?}/warm/$key"
# rclone learns on its first use that the server runs no shell commands (no remote hash)
# and keeps that in its configuration file, as it does for a user.
rclone lsd bench: >/dev/null

for rep in $(seq "$reps"); do
  echo "repetition $rep of $reps..." >&2
  for folder in sftp-ours$rep ftps-ours$rep sftp-in-place$rep ftps-in-place$rep; do
    remote_folder "$folder"
    cp -a "$site/warm/." "$site/$folder/"
  done
  for folder in sftp-rclone$rep sftp-rclone-one$rep ftps-lftp$rep; do remote_folder "$folder"; done

  ours sftp "sftp-ours$rep" "$measures/sftp.txt"
  $py "$here/compare_books.py" "$book" "$site/sftp-ours$rep/$key" --written book-manifest.txt
  ours sftp "sftp-in-place$rep" "$measures/sftp-in-place.txt" --in-place
  $py "$here/compare_books.py" "$book" "$site/sftp-in-place$rep/$key" --written book-manifest.txt

  timed "$measures/rclone.txt" rclone copy "$book" "bench:sftp-rclone$rep/$key"
  $py "$here/compare_books.py" "$book" "$site/sftp-rclone$rep/$key"

  timed "$measures/rclone-one.txt" rclone copy --transfers 1 "$book" "bench:sftp-rclone-one$rep/$key"
  $py "$here/compare_books.py" "$book" "$site/sftp-rclone-one$rep/$key"

  ours ftps "ftps-ours$rep" "$measures/ftps.txt"
  $py "$here/compare_books.py" "$book" "$site/ftps-ours$rep/$key" --written book-manifest.txt
  ours ftps "ftps-in-place$rep" "$measures/ftps-in-place.txt" --in-place
  $py "$here/compare_books.py" "$book" "$site/ftps-in-place$rep/$key" --written book-manifest.txt

  timed "$measures/lftp-ftps.txt" lftp -p "$ftp_port" \
        -e "$lftp_settings; mirror -R '$book' 'ftps-lftp$rep/$key'; quit" 127.0.0.1 >/dev/null
  $py "$here/compare_books.py" "$book" "$site/ftps-lftp$rep/$key"
done

mkdir -p "$root/bench/results"
log="$root/bench/results/publish-transports-$(date +%Y%m%d-%H%M%S).md"
{
  $py "$here/report.py" "$measures" "$book" "$pages"
  # Which client was measured: others may have changed it in this work tree meanwhile.
  changed=$(git -C "$root" status --porcelain -- publish config | wc -l)
  echo
  echo "Client built from commit $(git -C "$root" rev-parse --short HEAD)$( [ "$changed" -gt 0 ] &&
       echo " with $changed uncommitted files changed in publish/ and config/"); rclone $(rclone version |
       head -1 | cut -d' ' -f2), $(lftp --version | head -1 | sed 's/.*Version \([^ ]*\).*/lftp \1/')."
} | tee "$log"
echo "(written to $log)"
