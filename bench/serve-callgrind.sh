#!/usr/bin/env bash
# User instructions per MiB that `tarnwick-cli serve` spends sending: serve
# runs under callgrind and serves one 8 MiB file in 512-byte blocks, lock
# step (no options), to `tarnwick-cli get` on 127.0.0.1. Prints the serve
# process's total instructions (start-up and exit included) divided by 8,
# the median of a few runs, and keeps the profiles for callgrind_annotate
# when BENCH_KEEP names a file.
# Not part of the test run.
# Usage: bench/serve-callgrind.sh [build dir, default build/native]
#   BENCH_KEEP=/tmp/serve.callgrind  keep the profiles there (.1, .2, ...)
#   BENCH_RUNS=5                      runs; the median is reported
#   BENCH_BLKSIZE=1428               another block size (still lock step)
#   BENCH_IDLE=1000                   that many idle transfers held open beside
#                                     the get (bench/idle-clients.py), which a
#                                     loop turn should not pay for
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/native}")
cli=$build/src/cli/tarnwick-cli
blksize=${BENCH_BLKSIZE:-512}
runs=${BENCH_RUNS:-5}
idle=${BENCH_IDLE:-0}
[ -x "$cli" ] || { echo "missing: $cli (build tarnwick-cli)" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "missing: valgrind" >&2; exit 2; }
source "$root/scripts/process-lib.sh"

work=$(mktemp -d /tmp/tarnwick-serve-callgrind-XXXXXX)
serve_pid= idle_pid=
trap 'stop_pid "$idle_pid"; stop_pid "$serve_pid"; [ -n "${BENCH_DEBUG:-}" ] || rm -rf "$work"' EXIT
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
mkdir "$work/srv"
# Started as root, serve would drop to nobody after callgrind opened its
# profile as root and could not write it at exit: run it as nobody from the
# start instead, with the profile in a folder nobody may write.
as_nobody=()
[ "$(id -u)" != 0 ] || as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
chmod 755 "$work" "$work/srv"
head -c $((8 * 1048576)) /dev/urandom >"$work/srv/image.bin"
chmod 644 "$work/srv/image.bin"
mkdir "$work/out"
chmod 777 "$work/out"

options=(--no-options)
[ "$blksize" = 512 ] || options=(--blksize "$blksize")

# run_once <profile>: one serve under callgrind, one get; prints its total.
run_once() {
  rm -f "$work/out/serve.callgrind" "$work/serve.err" "$work/got.bin"
  "${as_nobody[@]}" valgrind --tool=callgrind --callgrind-out-file="$work/out/serve.callgrind" "$cli" serve \
    "$work/srv" --port 0 --listen 127.0.0.1 --quiet --per-client 100000 --request-rate 0 --max-transfers 100000 </dev/null >/dev/null 2>"$work/serve.err" &
  serve_pid=$!
  local port=
  # The line may arrive in pieces: only a whole one (ended by its newline) counts.
  for _ in $(seq 300); do
    [ "$(tail -c1 "$work/serve.err" 2>/dev/null | od -An -c | tr -d ' ')" = '\n' ] &&
      port=$(sed -n 's/^serve: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/serve.err" | head -1)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "serve did not start: $(cat "$work/serve.err")" >&2; exit 2; }
  if [ "$idle" -gt 0 ]; then
    # Held open until the get is done: their standard input is a pipe we close.
    mkfifo "$work/idle.in"
    python3 "$root/bench/idle-clients.py" "$port" "$idle" image.bin 600 <"$work/idle.in" >"$work/idle.out" &
    idle_pid=$!
    exec 9>"$work/idle.in"
    for _ in $(seq 1200); do grep -q '^ready' "$work/idle.out" 2>/dev/null && break; sleep 0.1; done
    grep -q "^ready $idle\$" "$work/idle.out" || { echo "idle clients: $(cat "$work/idle.out")" >&2; exit 1; }
  fi
  # Under callgrind the server is some 50 times slower: a long first wait
  # keeps the client from sending again while the server is merely slow.
  "$cli" get 127.0.0.1 image.bin "$work/got.bin" --port "$port" --timeout 5000 --quiet "${options[@]}"
  cmp -s "$work/got.bin" "$work/srv/image.bin" || { echo "the copy differs from the file" >&2; exit 1; }
  if [ "$idle" -gt 0 ]; then
    exec 9>&-
    wait "$idle_pid" || true
    idle_pid=
    rm -f "$work/idle.in"
  fi
  # A stop signal lets serve exit through its own path, so callgrind writes the profile.
  kill -TERM "$serve_pid"
  wait "$serve_pid" || true
  serve_pid=
  [ -z "${BENCH_KEEP:-}" ] || cp "$work/out/serve.callgrind" "$1"
  awk '/^summary:/ { print $2 }' "$work/out/serve.callgrind"
}

# How many times the loop finds the socket empty before the next ACK depends
# on timing, so the count moves by some 20 % from run to run: the median of
# a few runs is the number.
totals=()
for i in $(seq "$runs"); do
  total=$(run_once "${BENCH_KEEP:-}.$i")
  [ -n "$total" ] || { echo "no profile written" >&2; exit 1; }
  totals+=("$total")
done
printf '%s\n' "${totals[@]}" | sort -n | awk -v b="$blksize" -v idle="$idle" '
  { t[NR] = $1; list = list sprintf(" %.3f", $1 / 8 / 1e6) }
  END { m = t[int((NR + 1) / 2)]
    printf "serve, 8 MiB at blksize %d lock step, %d idle transfers beside, %d runs: median %.0f instructions in all, %.3f M instructions/MiB (runs:%s)\n", b, idle, NR, m, m / 8 / 1e6, list }'
