#!/usr/bin/env bash
# `tarnwick-cli serve` against the servers administrators run today, side by
# side in one run, each server in turn over the same folder on loopback:
# tftpd-hpa (a process per request), atftpd (a thread per transfer) and
# dnsmasq (one process, read-only, port 69 only; run by hand on 127.0.0.1,
# never as a service). Load: `tarnwick-cli backup` with an inventory of N rows
# that all fetch one 8 MiB image from the server under test.
#   rows  b512  512-byte blocks, lock step (no options)
#         b1428 blksize 1428, lock step
#         w16   blksize 1428 + windowsize 16 (tftpd-hpa and dnsmasq answer
#               without windowsize: they run it in lock step)
#   N     1 32 256 concurrent clients; then N=1 through tarnwick-impair with
#         1 ms each way, lossless and at 1 % loss (the lossless relay row is
#         what "within 1.5x of lossless" is measured against); then serve
#         alone with 1000 at once.
# Reported per row: aggregate throughput (MiB/s), server CPU seconds
# (/proc/PID/stat utime+stime, its children's added for the forking server),
# peak RSS of the server's process tree (sampled every 100 ms), failures.
# Not part of the test run.
# Usage: bench/serve-bench.sh [--setup] [build dir, default build/release]
#   BENCH_N="1 32 256" BENCH_ROWS="b512 b1428 w16" BENCH_SERVERS="serve tftpd-hpa atftpd dnsmasq"
#   BENCH_LOSS="0 1" (loss % of the relay rows; empty: no relay rows)
#   BENCH_BIG=1000 (0: skip the 1000-transfer row)
# Build first: cmake --build build/release -j2 --target tarnwick-cli tarnwick-impair
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --setup ]; then
  shift
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends dnsmasq-base time
  "$root/scripts/setup-debian.sh"  # tftpd-hpa, and atftpd in /opt/tarnwick-peers
fi
build=$(realpath "${1:-$root/build/release}")
impair=$build/tools/impair/tarnwick-impair
ns=${BENCH_N:-1 32 256}
rows=${BENCH_ROWS:-b512 b1428 w16}
servers=${BENCH_SERVERS:-serve tftpd-hpa atftpd dnsmasq}
losses=${BENCH_LOSS-0 1}
big=${BENCH_BIG:-1000}
dnsmasq=$(command -v dnsmasq || echo /usr/sbin/dnsmasq)
[ -x "$impair" ] || { echo "missing: $impair (build it)" >&2; exit 2; }
[ -x "$dnsmasq" ] || { echo "missing: dnsmasq (--setup installs dnsmasq-base)" >&2; exit 2; }
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"

source "$root/bench/bench-lib.sh"
bench_start serve-bench "$build/src/cli/tarnwick-cli"
# atftpd allows 100 threads unless told otherwise.
bench_atftpd "${TARNWICK_ATFTPD:-/opt/tarnwick-peers/usr/sbin/atftpd}" --maxthread 2000
# Started as root, serve runs as nobody once bound: nobody must reach srv.
chmod 755 "$work"
head -c $((8 * 1048576)) /dev/urandom >"$work/srv/image.bin"
chmod 644 "$work/srv/image.bin"

serve_pid= dnsmasq_pid= serve_port=
trap 'stop_pid "$serve_pid"; stop_pid "$dnsmasq_pid"; bench_cleanup' EXIT
# Ours: every client comes from 127.0.0.1, so the per-address limits are lifted.
start_serve() {
"$cli" serve "$work/srv" --port 0 --listen 127.0.0.1 --per-client 100000 --request-rate 0 --max-transfers 100000 --quiet \
  </dev/null >/dev/null 2>"$work/serve.err" &
serve_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/serve.err" 2>/dev/null && break; sleep 0.1; done
serve_port=$(sed -n 's/^serve: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/serve.err" | head -1)
[ -n "$serve_port" ] || { echo "serve did not start: $(cat "$work/serve.err")" >&2; exit 2; }
}
start_dnsmasq() {
# dnsmasq serves TFTP on port 69 only; no DNS (--port=0), no configuration file.
"$dnsmasq" -k -C /dev/null --port=0 --listen-address=127.0.0.1 --bind-interfaces --user="$(id -un)" \
  --enable-tftp --tftp-root="$work/srv" --tftp-max=2000 --quiet-tftp --pid-file= --log-facility=/dev/null \
  </dev/null >/dev/null 2>"$work/dnsmasq.err" &
dnsmasq_pid=$!
sleep 0.3
kill -0 "$dnsmasq_pid" 2>/dev/null || { echo "dnsmasq did not start: $(cat "$work/dnsmasq.err")" >&2; exit 2; }
}
case " $servers " in *" serve "*) start_serve ;; esac
case " $servers " in *" dnsmasq "*) start_dnsmasq ;; esac

pid_of() { case $1 in serve) echo "$serve_pid" ;; tftpd-hpa) echo "$server_pid" ;; atftpd) echo "$atftpd_pid" ;; dnsmasq) echo "$dnsmasq_pid" ;; esac; }
port_of() { case $1 in serve) echo "$serve_port" ;; tftpd-hpa) echo "$port" ;; atftpd) echo "$atftpd_port" ;; dnsmasq) echo 69 ;; esac; }
# CPU seconds of a process itself.
cpu_of() { awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / hz }' "/proc/$1/stat"; }
# Until $work/stop-sampling appears, every 100 ms: the peak RSS (KiB) of a
# process and its children together, and the CPU seconds its children used
# (their last reading: a forking server's children are not always reaped and
# counted in its own stat; the last 100 ms of each child may be missed).
# One reading is two awk runs over all the processes' files at once (with
# 256 children, a run per child took the sample most of a second and a core):
# a child that ended meanwhile is skipped (its cat's failure must not end
# the sampler under pipefail), and a zombie, which has no VmRSS line, adds
# nothing.
sample_tree() {
  local pid=$1 peak=0 now c cpu
  declare -A child_cpu=()
  while [ ! -e "$work/stop-sampling" ]; do
    local children=()
    for c in $(pgrep -P "$pid" || true); do children+=("/proc/$c"); done
    now=$(for c in "/proc/$pid" "${children[@]}"; do cat "$c/status" 2>/dev/null || true; done |
      awk '/^VmRSS/ { s += $2 } END { print s + 0 }')
    while read -r c cpu; do child_cpu[$c]=$cpu; done < <(
      for c in "${children[@]}"; do cat "$c/stat" 2>/dev/null || true; done |
        awk '{ p = $1; sub(/^.*\) /, ""); print p, $12 + $13 }')
    [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.1
  done
  echo "$peak" >"$work/rss"
  printf '%s\n' 0 "${child_cpu[@]}" | awk -v hz="$(getconf CLK_TCK)" '{ s += $1 } END { print s / hz }' >"$work/child-cpu"
}

# measure <server> <row> <N> <loss %> [relay]: one load run, through the
# relay (1 ms each way) when asked or when loss is not 0; prints a table line.
measure() {
  local server=$1 row=$2 n=$3 loss=$4 via=${5:-direct} pid target_port b= w= cpu0 cpu1 start end failed wall
  pid=$(pid_of "$server") target_port=$(port_of "$server")
  case $row in b1428) b=1428 ;; w16) b=1428 w=16 ;; esac
  [ "$loss" = 0 ] || via=relay
  if [ "$via" = relay ]; then
    bench_relay_start "$impair" "$target_port" --seed 1 --delay 1 --loss "$(awk -v l="$loss" 'BEGIN { print l / 100 }')"
    target_port=$relay_port
  fi
  { echo "name,host,port,remote,password,delimiter,blksize,windowsize,min_ratio"
    for i in $(seq "$n"); do echo "d$i,127.0.0.1,$target_port,image.bin,,,$b,$w,0"; done; } >"$work/inventory.csv"
  rm -rf "$work/dest" "$work/stop-sampling"
  sample_tree "$pid" &
  local sampler=$!
  cpu0=$(cpu_of "$pid")
  start=$(date +%s.%N)
  "$cli" backup "$work/inventory.csv" --dest "$work/dest" --jobs "$n" --no-progress --quiet \
    --deadline 900 --report "$work/report.json" >/dev/null 2>"$work/backup.err" || true
  end=$(date +%s.%N)
  cpu1=$(cpu_of "$pid")
  touch "$work/stop-sampling"
  wait "$sampler"
  [ "$via" = direct ] || bench_relay_stop
  # A copy that differs from the image counts as a failure.
  failed=0
  for i in $(seq "$n"); do cmp -s "$work/dest/d$i.cfg" "$work/srv/image.bin" || failed=$((failed + 1)); done
  [ "$failed" = 0 ] || tail -3 "$work/backup.err" >&2
  wall=$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')
  awk -v sv="$server" -v r="$row" -v n="$n" -v l="$loss" -v via="$via" -v w="$wall" -v c0="$cpu0" -v c1="$(awk -v a="$cpu1" -v b="$(cat "$work/child-cpu")" 'BEGIN { print a + b }')" \
    -v rss="$(cat "$work/rss")" -v f="$failed" 'BEGIN {
      printf "| %-9s | %-5s | %4d | %-6s | %3s%% | %8.1f | %7.2f | %7.2f | %8.1f | %6d |\n",
        sv, r, n, via, l, (n - f) * 8 / w, w, c1 - c0, rss / 1024, f }'
}

echo "# serve-bench $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, 8 MiB image, clients: tarnwick-cli backup"
echo "| server    | row   |    N | path   | loss | MiB/s agg | wall s  | srv CPU s | peak RSS MiB | failed |"
echo "|-----------|-------|------|--------|------|----------|---------|---------|----------|--------|"
for row in $rows; do
  for n in $ns; do
    for server in $servers; do measure "$server" "$row" "$n" 0; done
  done
  for loss in $losses; do
    for server in $servers; do measure "$server" "$row" 1 "$loss" relay; done
  done
done
if [ "$big" -gt 0 ] && [ -n "$serve_pid" ]; then measure serve b1428 "$big" 0; fi
