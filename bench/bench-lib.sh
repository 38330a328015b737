# Shared set-up of the TFTP benchmarks, sourced by them: the tools, a scratch
# folder ($work with srv/ and cli/), and tftpd-hpa on a loopback high port
# ($port) serving $work/srv with uploads allowed. Everything is removed and the
# server stopped (by PID) when the script exits.

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
  server_pid=
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

bench_cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
