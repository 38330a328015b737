#!/usr/bin/env bash
# The Windows build's `tarnwick-cli.exe serve` under Wine, on loopback, with
# the Windows build's own get and put as its clients: both copies compared
# byte for byte. Every wait is bounded; the server is stopped by its PID.
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
wine "$exe" serve "$(winepath -w "$work/root")" --port 0 --listen 127.0.0.1 --upload \
  </dev/null >/dev/null 2>"$work/serve.err" &
pid=$!
port=
for _ in $(seq 300); do  # Wine's first start may take a while: 30 s at most
  port=$(sed -n 's/^serve: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/serve.err" | head -1)
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "serve exited: $(cat "$work/serve.err")" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "serve did not listen: $(cat "$work/serve.err")" >&2; exit 1; }
cd "$work/here"
timeout -k 5 120 wine "$exe" get 127.0.0.1 image.bin got.bin --port "$port" --blksize 1428 </dev/null
cmp "$work/root/image.bin" got.bin
timeout -k 5 120 wine "$exe" put 127.0.0.1 config.txt pushed.txt --port "$port" </dev/null
for _ in $(seq 100); do [ -s "$work/root/pushed.txt" ] && break; sleep 0.05; done
cmp "$work/here/config.txt" "$work/root/pushed.txt"
echo "serve under Wine: get and put compared"
