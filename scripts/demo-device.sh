#!/usr/bin/env bash
# The demo device: a TFTP server (tftpd-hpa) on the loopback address that
# serves a sample router configuration named "config" and accepts uploads,
# so that the window's initial values (127.0.0.1, port 69, "config") work
# on the first click. Runs in the foreground until stopped (Ctrl-C or TERM);
# the served folder is temporary and removed at the end.
#
# Usage: scripts/demo-device.sh [--port-file FILE]
#   --port-file  writes the port actually used there once the server answers
#
# in.tftpd needs root (or passwordless sudo). When port 69 is taken, or
# cannot be bound, a high port is used instead and named loudly: type it
# into the window's port box.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
port_file=""
if [ "${1:-}" = "--port-file" ]; then port_file="${2:?--port-file needs a file}"; fi

tftpd=/usr/sbin/in.tftpd
[ -x "$tftpd" ] || { echo "demo device: in.tftpd missing (apt-get install tftpd-hpa)" >&2; exit 1; }

can_bind() {  # can_bind <port>: status 0 when we may bind 127.0.0.1:<port>/udp
  python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))' "$1" 2>/dev/null
}
high_port() {
  python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}
answers() { ss -Hlun "sport = :$1" 2>/dev/null | grep -q "127.0.0.1:$1"; }

folder="$(mktemp -d /tmp/tarnwick-demo.XXXXXX)"
chmod 0777 "$folder"  # tftpd-hpa writes uploads as its own user
cp "$root/demo/config" "$folder/config"
chmod 0644 "$folder/config"
server_pid=""
stop() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$folder"
}
trap stop EXIT
trap 'exit 0' TERM INT

# in.tftpd must start as root even on a high port: it changes to its service
# user for every request, and an ordinary user may not (the request then
# dies unanswered). Without root, passwordless sudo will do.
runner=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    runner=(sudo -n)
  else
    echo "demo device: in.tftpd has to be started as root (or through sudo); run this as root." >&2
    exit 1
  fi
fi

in_use() { ss -Hlun "sport = :$1" 2>/dev/null | grep -q .; }
port=69
if in_use 69 || { [ "$(id -u)" -eq 0 ] && ! can_bind 69; }; then
  port="$(high_port)"
  echo "demo device: port 69 is not available (in use, or no CAP_NET_BIND_SERVICE)."
  echo "demo device: USING PORT $port INSTEAD - type $port into the port box (ポート番号)."
fi

# Served as the calling user, so uploads belong to whoever started the demo.
args=(-L -a "127.0.0.1:$port" -c -p -u "$(id -un)" -s)
"${runner[@]}" "$tftpd" "${args[@]}" "$folder" &
server_pid=$!

for ((i = 0; i < 100; i++)); do
  answers "$port" && break
  kill -0 "$server_pid" 2>/dev/null || { echo "demo device: in.tftpd exited" >&2; exit 1; }
  sleep 0.1
done
answers "$port" || { echo "demo device: in.tftpd does not answer on 127.0.0.1:$port" >&2; exit 1; }
[ -z "$port_file" ] || echo "$port" >"$port_file"
echo "demo device: tftpd-hpa (pid $server_pid) serves 127.0.0.1:$port from $folder; files: config; uploads accepted."
wait "$server_pid"
