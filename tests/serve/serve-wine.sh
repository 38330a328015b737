#!/usr/bin/env bash
# The Windows build's `tarnwick-cli.exe serve` under Wine, on loopback, with
# the Windows build's own get and put as its clients: both copies compared
# byte for byte; then a device's push through `serve --archive` (the spool's
# names, DEST's lock and the archive on Windows). Every wait is bounded; the
# servers are stopped by their PID.
# Usage: serve-wine.sh <tarnwick-cli.exe>
set -euo pipefail
exe=$1
source "$(dirname "$0")/../../scripts/process-lib.sh"
if ! command -v wine >/dev/null; then
  echo "wine is missing" >&2
  [ "${TARNWICK_REQUIRE_PEERS:-}" = 1 ] && exit 1
  exit 77
fi
work=$(mktemp -d /tmp/tarnwick-serve-wine-XXXXXX)
pid=
trap 'stop_pid "$pid"; rm -rf "$work"' EXIT
mkdir -p "$work/root" "$work/here"
head -c 300007 /dev/urandom >"$work/root/image.bin"
head -c 70001 /dev/urandom >"$work/here/config.txt"
: >"$work/serve.err"  # there before the poll below reads it, whenever the job starts
# start_serve <serve's arguments>: in the background ($pid), its port in $port.
start_serve() {
  : >"$work/serve.err"
  wine "$exe" serve "$@" --port 0 --listen 127.0.0.1 </dev/null >/dev/null 2>"$work/serve.err" &
  pid=$!
  port=
  for _ in $(seq 300); do  # Wine's first start may take a while: 30 s at most
    port=$(sed -n 's/^serve: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/serve.err" | head -1)
    [ -n "$port" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "serve exited: $(cat "$work/serve.err")" >&2; exit 1; }
    sleep 0.1
  done
  [ -n "$port" ] || { echo "serve did not listen: $(cat "$work/serve.err")" >&2; exit 1; }
}
start_serve "$(winepath -w "$work/root")" --upload
cd "$work/here"
timeout -k 5 120 wine "$exe" get 127.0.0.1 image.bin got.bin --port "$port" --blksize 1428 </dev/null
cmp "$work/root/image.bin" got.bin
timeout -k 5 120 wine "$exe" put 127.0.0.1 config.txt pushed.txt --port "$port" </dev/null
for _ in $(seq 100); do [ -s "$work/root/pushed.txt" ] && break; sleep 0.05; done
cmp "$work/here/config.txt" "$work/root/pushed.txt"
stop_pid "$pid"

printf 'name,host,port,remote,password,delimiter,push\ncore,127.0.0.1,69,,,,yes\n' >"$work/inventory.csv"
start_serve --archive "$(winepath -w "$work/dest")" --inventory "$(winepath -w "$work/inventory.csv")"
timeout -k 5 120 wine "$exe" put 127.0.0.1 config.txt core.cfg --port "$port" </dev/null
for _ in $(seq 200); do [ -s "$work/dest/core.cfg" ] && break; sleep 0.05; done
cmp "$work/here/config.txt" "$work/dest/core.cfg"
grep -q 'archive core pushed from 127.0.0.1 new' "$work/serve.err"
echo "serve under Wine: get, put and a push into the archive compared"
