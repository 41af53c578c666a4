# Shared by the publishing benchmarks (sourced, not run): a private HOME for the programs,
# the converted book, the loopback FTP test server and our own vellumark-service. Needs $bin
# (the programs' folder) and $root (the source tree).

# Makes private HOME and XDG folders under $1 and points the environment at them, so that
# the programs never read or write the user's own settings and books.
use_private_home() {
  mkdir -p "$1/home/Documents" "$1/data" "$1/config" "$1/runtime" "$1/shared"
  export HOME="$1/home" XDG_DATA_HOME="$1/data" XDG_CONFIG_HOME="$1/config" XDG_CACHE_HOME="$1/home/.cache" \
         XDG_RUNTIME_DIR="$1/runtime" XDG_DATA_DIRS="$1/shared" XDG_DOCUMENTS_DIR="$1/home/Documents"
}

# Starts vellumark-service on a free loopback port with data folder $1 and the options
# after it; sets service_pid and address.
start_service() {
  local data=$1
  shift
  "$bin/vellumark-service" --data "$data" --listen 127.0.0.1 --port 0 "$@" > "$data.out" 2>"$data.err" &
  service_pid=$!
  for _ in $(seq 100); do grep -q listening "$data.out" 2>/dev/null && break; sleep 0.1; done
  address=$(sed -n 's|.*listening on http://\([^/]*\)/.*|\1|p' "$data.out")
  [ -n "$address" ] || { echo "vellumark-service did not start: $(cat "$data.err")" >&2; exit 1; }
}

# Stops the service; with a file $1, appends its peak resident memory (kB) to it first.
stop_service() {
  [ -n "${1:-}" ] && awk '/^VmHWM/ {print $2}' "/proc/$service_pid/status" >> "$1"
  kill "$service_pid"
  wait "$service_pid" 2>/dev/null || true
  service_pid=""
}

# Creates the account $1 (password "bench") on the running service.
make_account() {
  local status
  status=$(curl -s -o /dev/null -w '%{http_code}' -d "email=$1&password=bench" "http://$address/createPubAccount.asp")
  [ "$status" = 200 ] || { echo "the service refused the account $1 (HTTP $status)" >&2; exit 1; }
}

# Converts the PDF $1 with vellumark-batch (in the private home) and sets book (its
# folder), books (the books folder) and key.
convert_book() {
  local index
  index=$("$bin/vellumark-batch" "$1" 2>/dev/null)
  book=$(dirname "$index")
  books=$(dirname "$book")
  key=$(basename "$book")
}

# Starts the loopback FTP test server (pyftpdlib) serving folder $1/served; sets
# server_pid and port.
start_ftp_server() {
  /usr/bin/python3 "$root/tests/publish/ftp_test_server.py" "$1/served" "$1/port" >/dev/null 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do [ -s "$1/port" ] && break; sleep 0.1; done
  port=$(cat "$1/port")
}
