# Shared set-up of the TFTP benchmarks, sourced by them: the tools, a scratch
# folder ($work with srv/ and cli/), and tftpd-hpa on a loopback high port
# ($port) serving $work/srv with uploads allowed. Optionally atftpd on a port
# of its own ($atftpd_port) over the same folder, and tarnwick-impair in front
# of either. Everything is removed and every process stopped (by PID) when the
# script exits.

# stop_pid <pid>: the project's own, TERM, a bounded wait, then KILL.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/process-lib.sh"

# bench_start <scratch name> <tarnwick-cli> [other required tool]...
bench_start() {
  local name=$1 tool attempt secure=()
  cli=$(realpath "$2")
  shift 2
  tftpd=$(command -v in.tftpd || echo /usr/sbin/in.tftpd)
  for tool in "$cli" "$tftpd" "$(command -v tftp || echo tftp)" "$@"; do
    [ -x "$tool" ] || [ -x "$(command -v "$tool" || true)" ] || { echo "missing: $tool" >&2; exit 2; }
  done

  work=$(mktemp -d "/tmp/tarnwick-$name-XXXXXX")
  server_pid= atftpd_pid= relay_pid=
  trap bench_cleanup EXIT
  mkdir -p "$work/srv" "$work/cli"
  chmod 777 "$work/srv"

  [ "$(id -u)" = 0 ] && secure=(-s)
  for attempt in 1 2 3 4 5; do
    port=$(( 40000 + RANDOM % 20000 ))
    # The server must not hold our output open, or a pipe reading it never ends.
    "$tftpd" -L -a "127.0.0.1:$port" "${secure[@]}" -c -p -u "$(id -un)" "$work/srv" >/dev/null 2>&1 </dev/null &
    server_pid=$!
    sleep 0.3
    kill -0 "$server_pid" 2>/dev/null && break
    server_pid=
  done
  [ -n "$server_pid" ] || { echo "in.tftpd did not start" >&2; exit 2; }
}

# bench_atftpd [atftpd binary] [its option]...: atftpd over $work/srv on a
# loopback high port ($atftpd_port), re-sending after 1 s as its shortest timer
# allows. Call after bench_start.
bench_atftpd() {
  local binary=${1:-/opt/tarnwick-peers/usr/sbin/atftpd} attempt
  shift $(( $# > 0 ? 1 : 0 ))
  [ -x "$binary" ] || { echo "missing: $binary (scripts/setup-debian.sh unpacks it)" >&2; exit 2; }
  for attempt in 1 2 3 4 5; do
    atftpd_port=$(( 40000 + RANDOM % 20000 ))
    [ "$atftpd_port" = "$port" ] && continue
    "$binary" --daemon --no-fork --bind-address 127.0.0.1 --port "$atftpd_port" --user "$(id -un)" \
      --group "$(id -gn)" --logfile /dev/null -t 86400 --retry-timeout 1 "$@" "$work/srv" </dev/null >/dev/null 2>&1 &
    atftpd_pid=$!
    sleep 0.3
    kill -0 "$atftpd_pid" 2>/dev/null && return 0
    atftpd_pid=
  done
  echo "atftpd did not start" >&2
  exit 2
}

# bench_relay_start <tarnwick-impair> <server port> [relay option]...: a relay
# on a loopback port of its own ($relay_port) in front of 127.0.0.1:<server
# port>; its statistics go to $work/relay.err when it stops.
bench_relay_start() {
  local impair=$1 server=$2
  shift 2
  : >"$work/relay.port"
  "$impair" --server "127.0.0.1:$server" "$@" >"$work/relay.port" 2>"$work/relay.err" </dev/null &
  relay_pid=$!
  for _ in $(seq 50); do [ -s "$work/relay.port" ] && break; sleep 0.05; done
  relay_port=$(head -1 "$work/relay.port")
  [ -n "$relay_port" ] || { echo "tarnwick-impair did not start: $(cat "$work/relay.err")" >&2; exit 2; }
}

bench_relay_stop() {
  stop_pid "$relay_pid"
  relay_pid=
}

bench_cleanup() {
  stop_pid "${relay_pid:-}"
  stop_pid "${atftpd_pid:-}"
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
