#!/usr/bin/env bash
# Devices pushing into serve --archive: N devices (default 300) push 64 KiB
# each at once (tarnwick-cli put as the devices, every one from 127.0.0.1 --
# the inventory has N rows at that address, each allowed its own name) while
# a reader fetches a small file every 20 ms. Reported: how long the pushes
# took, when the last was archived, how many commits that made, whether every
# saved copy is the one pushed, and the reads' latency meanwhile.
# Not part of the test run.
# Usage: bench/push-bench.sh [build dir, default build/release] [devices]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/release}")
devices=${2:-300}
cli=$build/src/cli/tarnwick-cli
[ -x "$cli" ] || { echo "missing: $cli (build tarnwick-cli)" >&2; exit 2; }
source "$root/scripts/process-lib.sh"
ulimit -n 65536 2>/dev/null || true

work=$(mktemp -d "${BENCH_TMP:-/tmp}/tarnwick-push-bench-XXXXXX")
serve_pid= reader_pid=
trap 'stop_pid "$reader_pid"; stop_pid "$serve_pid"; rm -rf "$work"' EXIT
chmod 777 "$work"  # serve runs as nobody when started as root
mkdir -p "$work/root" "$work/pushes"
head -c 4096 /dev/urandom >"$work/root/small.bin"
chmod -R a+rX "$work/root"
{
  echo "name,host,port,remote,password,delimiter,push"
  for i in $(seq -w 1 "$devices"); do echo "sw$i,127.0.0.1,69,,,,yes"; done
} >"$work/inventory.csv"
# 64 KiB of configuration lines, the device's name in them (names of one length: seq -w).
name0=sw$(seq -w 1 "$devices" | head -1 | tr 0-9 X)
awk -v n="$name0" 'BEGIN { print "hostname " n; for (l = 1; l <= 1800; l++) print "interface ge-0/0/" l " description port " l " of " n }' >"$work/base.cfg"
truncate -s 65536 "$work/base.cfg"
for i in $(seq -w 1 "$devices"); do sed "s/$name0/sw$i/g" "$work/base.cfg" >"$work/pushes/sw$i.cfg"; done

"$cli" serve "$work/root" --archive "$work/dest" --inventory "$work/inventory.csv" --git --port 0 \
  --listen 127.0.0.1 --per-client 100000 --request-rate 0 --max-transfers 100000 --log-json \
  </dev/null >"$work/serve.jsonl" 2>"$work/serve.err" &
serve_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/serve.err" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^serve: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/serve.err" | head -1)
[ -n "$port" ] || { echo "serve did not start: $(cat "$work/serve.err")" >&2; exit 2; }

now_ms() { date +%s%3N; }
# The reader: one small get every 20 ms, its latency in ms per line.
(
  while :; do
    t=$(now_ms)
    "$cli" get 127.0.0.1 small.bin "$work/small.out" --port "$port" --quiet >/dev/null 2>&1 || echo fail
    echo $(( $(now_ms) - t ))
    sleep 0.02
  done
) >"$work/reads.txt" &
reader_pid=$!
sleep 0.5

start=$(now_ms)
pids=()
for i in $(seq -w 1 "$devices"); do
  # The devices are other machines in the field: here they must not take
  # the CPU from the server and the reader they stand in for.
  nice -n 19 "$cli" put 127.0.0.1 "$work/pushes/sw$i.cfg" "sw$i.cfg" --port "$port" --quiet >/dev/null 2>&1 </dev/null &
  pids+=($!)
done
failed=0
for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
pushed=$(now_ms)
for _ in $(seq 600); do
  [ "$(grep -c '"event":"archive","device":"sw' "$work/serve.jsonl" || true)" -ge "$devices" ] && break
  sleep 0.1
done
archived=$(now_ms)
stop_pid "$reader_pid"
reader_pid=

same=0
for i in $(seq -w 1 "$devices"); do cmp -s "$work/pushes/sw$i.cfg" "$work/dest/sw$i.cfg" && same=$((same + 1)); done
commits=$(git -c safe.directory='*' -C "$work/dest" rev-list --count HEAD)
fsck=$(git -c safe.directory='*' -C "$work/dest" fsck --no-progress >/dev/null 2>&1 && echo clean || echo FAILED)
sort -n "$work/reads.txt" | grep -v fail >"$work/reads.sorted" || true
reads=$(wc -l <"$work/reads.sorted")
median=$(sed -n "$(( (reads + 1) / 2 ))p" "$work/reads.sorted")
worst=$(tail -1 "$work/reads.sorted")
read_failures=$(grep -c fail "$work/reads.txt" || true)
echo "devices: $devices pushing 64 KiB each at once"
echo "pushes done (every put exited): $(( pushed - start )) ms, failed puts: $failed"
echo "last push archived: $(( archived - start )) ms after the first started"
echo "saved copies equal to the pushed file: $same of $devices; commits: $commits; git fsck: $fsck"
# The server's own view of each read: request to last ACK, without the
# reader's process start (which 300 puts starting on the same cores delay).
served=$(grep '"direction":"read"' "$work/serve.jsonl" | sed -n 's/.*"seconds":\([0-9.]*\).*/\1/p' | sort -n)
echo "reads meanwhile (get of 4 KiB, process start included): $reads, median ${median:-?} ms, worst ${worst:-?} ms, failed $read_failures"
echo "the same reads as the server timed them: worst $(echo "$served" | tail -1) s, median $(echo "$served" | sed -n "$(( ($(echo "$served" | wc -l) + 1) / 2 ))p") s"
