#!/usr/bin/env bash
# Throughput of tarnwick-cli (both engines) against the usual TFTP clients,
# in one run against the same server, each client in turn (A B A B), with the
# options each client has. Not part of the test run.
#
# Rows: plain 512-byte lock step; blksize 1428; blksize 1428 + windowsize 16;
# blksize 65464. Every row on a small file, the option rows on a large one
# too; get and put where the client can; on loopback and through
# tarnwick-impair with a delay each way. Prints time, MiB/s, CPU s/MiB, peak
# RSS (/usr/bin/time) and the ratio to the fastest client of the row.
#
# Usage: bench/cli-bench.sh [--setup] [build folder]      (default build/release)
#   --setup          install the other clients first (apt: tftp-hpa curl atftp busybox time)
# Settings (environment, defaults in brackets; the full run is 32 and 512):
#   BENCH_SMALL_MIB  file on every row                    [8]
#   BENCH_LARGE_MIB  file on the option rows, 0 for none  [32]
#   BENCH_REPS       rounds over all clients               [2]
#   BENCH_DELAY_MS   relay delay each way, 0 for no relay  [2]
#   BENCH_SERVER     atftpd (all options) or tftpd-hpa     [atftpd]
# Build first, e.g.:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release -j2 --target tarnwick-cli tarnwick-impair
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/process-lib.sh"

if [ "${1:-}" = --setup ]; then
  shift
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
    tftp-hpa curl atftp busybox time
  "$root/scripts/setup-debian.sh"  # tftpd-hpa, and atftpd in /opt/tarnwick-peers
fi
build=$(realpath "${1:-$root/build/release}")
cli=$build/src/cli/tarnwick-cli
impair=$build/tools/impair/tarnwick-impair
small=${BENCH_SMALL_MIB:-8}
large=${BENCH_LARGE_MIB:-32}
reps=${BENCH_REPS:-2}
delay=${BENCH_DELAY_MS:-2}
server_kind=${BENCH_SERVER:-atftpd}
atftpd=${TARNWICK_ATFTPD:-/opt/tarnwick-peers/usr/sbin/atftpd}
for tool in "$cli" "$impair" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing: $tool (build it, or --setup)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/tarnwick-cli-bench-XXXXXX)
server_pid= relay_pid=
cleanup() {
  stop_pid "$relay_pid"
  stop_pid "$server_pid"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/srv" "$work/cli"
chmod 777 "$work/srv"

for attempt in 1 2 3 4 5; do
  port=$((40000 + RANDOM % 20000))
  if [ "$server_kind" = atftpd ]; then
    "$atftpd" --daemon --no-fork --bind-address 127.0.0.1 --port "$port" --user "$(id -un)" --group "$(id -gn)" \
      --logfile /dev/null -t 86400 --retry-timeout 1 "$work/srv" </dev/null >/dev/null 2>&1 &
  else
    in.tftpd -L -a "127.0.0.1:$port" -c -p -u "$(id -un)" "$work/srv" </dev/null >/dev/null 2>&1 &
  fi
  server_pid=$!
  sleep 0.3
  kill -0 "$server_pid" 2>/dev/null && break
  server_pid=
done
[ -n "$server_pid" ] || { echo "$server_kind did not start" >&2; exit 2; }

relay_port=
if [ "$delay" -gt 0 ]; then
  "$impair" --server "127.0.0.1:$port" --delay "$delay" --seed 1 >"$work/relay.port" 2>"$work/relay.err" &
  relay_pid=$!
  for _ in $(seq 50); do [ -s "$work/relay.port" ] && break; sleep 0.1; done
  relay_port=$(head -1 "$work/relay.port")
  [ -n "$relay_port" ] || { echo "tarnwick-impair did not start" >&2; exit 2; }
fi

# Clients of a row: "name|get command|put command" with {port} {remote}
# {local}; "-" where the client cannot. Run in $work/cli.
row_clients() {
  local opts=$1 b=${2:-512} w=${3:-}
  case "$opts" in
    plain)
      echo "tarnwick-cli|$cli get 127.0.0.1 {remote} {local} --port {port} --quiet|$cli put 127.0.0.1 {local} {remote} --port {port} --quiet"
      echo "tarnwick-cli-window|$cli get 127.0.0.1 {remote} {local} --port {port} --quiet --engine window|$cli put 127.0.0.1 {local} {remote} --port {port} --quiet --engine window"
      echo "tftp-hpa|tftp -m binary 127.0.0.1 {port} -c get {remote} {local}|tftp -m binary 127.0.0.1 {port} -c put {local} {remote}"
      echo "curl|curl -sS --tftp-no-options -o {local} tftp://127.0.0.1:{port}/{remote}|curl -sS --tftp-no-options -T {local} tftp://127.0.0.1:{port}/{remote}"
      echo "atftp|atftp -g -r {remote} -l {local} 127.0.0.1 {port}|atftp -p -l {local} -r {remote} 127.0.0.1 {port}"
      echo "busybox|busybox tftp -g -r {remote} -l {local} 127.0.0.1 {port}|busybox tftp -p -l {local} -r {remote} 127.0.0.1 {port}"
      ;;
    blksize)
      local ws=() atw=()
      [ -n "$w" ] && ws=(--windowsize "$w") && atw=(--option "'windowsize $w'")
      echo "tarnwick-cli|$cli get 127.0.0.1 {remote} {local} --port {port} --quiet --blksize $b ${ws[*]}|$cli put 127.0.0.1 {local} {remote} --port {port} --quiet --blksize $b ${ws[*]}"
      echo "atftp|atftp --option 'blksize $b' ${atw[*]} -g -r {remote} -l {local} 127.0.0.1 {port}|atftp --option 'blksize $b' ${atw[*]} -p -l {local} -r {remote} 127.0.0.1 {port}"
      if [ -z "$w" ]; then
        # No windowsize in curl or busybox: they appear on the rows without it.
        echo "curl|curl -sS --tftp-blksize $b -o {local} tftp://127.0.0.1:{port}/{remote}|curl -sS --tftp-blksize $b -T {local} tftp://127.0.0.1:{port}/{remote}"
        echo "busybox|busybox tftp -b $b -g -r {remote} -l {local} 127.0.0.1 {port}|busybox tftp -b $b -p -l {local} -r {remote} 127.0.0.1 {port}"
      fi
      ;;
  esac
}

# measure "command" -> "wall user sys maxrss_kib", or "fail"
measure() {
  local out=$work/time.out
  if (cd "$work/cli" && eval "/usr/bin/time -f '%e %U %S %M' -o '$out' $1" >"$work/client.log" 2>&1); then
    cat "$out"
  else
    echo fail
  fi
}

results=$work/results.txt
: >"$results"
run_row() {  # label opts blksize windowsize mib
  local label=$1 opts=$2 b=$3 w=$4 mib=$5 path p dir line name get put cmd remote r local_file
  head -c $((mib * 1048576)) /dev/urandom >"$work/cli/src.bin"
  cp "$work/cli/src.bin" "$work/srv/src.bin"
  chmod 666 "$work/srv/src.bin"
  mapfile -t clients < <(row_clients "$opts" "$b" "$w")
  for path in loopback relay; do
    p=$port
    if [ "$path" = relay ]; then
      [ -n "$relay_port" ] || continue
      p=$relay_port
    fi
    for dir in get put; do
      for r in $(seq "$reps"); do
        for line in "${clients[@]}"; do
          IFS='|' read -r name get put <<<"$line"
          cmd=$([ "$dir" = get ] && echo "$get" || echo "$put")
          [ "$cmd" = - ] && continue
          remote=up-$name-$r.bin
          [ "$dir" = get ] && remote=src.bin
          cmd=${cmd//\{port\}/$p}
          cmd=${cmd//\{remote\}/$remote}
          local_file=$work/cli/got.bin
          [ "$dir" = put ] && local_file=$work/cli/src.bin
          cmd=${cmd//\{local\}/$local_file}
          rm -f "$work/cli/got.bin"
          result=$(measure "$cmd")
          # A wrong copy makes the numbers meaningless: it counts as a failure.
          if [ "$result" != fail ]; then
            if [ "$dir" = get ]; then
              cmp -s "$work/cli/got.bin" "$work/cli/src.bin" || result=fail
            else
              sleep 0.1  # the server may store the last block after acknowledging it
              cmp -s "$work/srv/$remote" "$work/cli/src.bin" || result=fail
              rm -f "$work/srv/$remote"
            fi
          fi
          echo "$label|$mib|$path|$dir|$name|$result" >>"$results"
          if [ "$result" = fail ]; then
            echo "FAILED: $label $mib MiB $path $dir $name" >&2
            tail -2 "$work/client.log" >&2
          fi
        done
      done
    done
  done
}

run_row "512 lock-step" plain 512 "" "$small"
for mib in $small $large; do
  [ "$mib" -gt 0 ] || continue
  run_row "blksize 1428" blksize 1428 "" "$mib"
  run_row "1428 + window 16" blksize 1428 16 "$mib"
  run_row "blksize 65464" blksize 65464 "" "$mib"
done

echo "server: $server_kind on 127.0.0.1:$port; relay delay ${delay} ms each way; best of $reps rounds (A B A B)"
awk -F'|' '
  $6 == "fail" { key = $1 "|" $2 "|" $3 "|" $4 "|" $5; if (!(key in best)) { best[key] = -1; order[n++] = key }; next }
  { split($6, t, " "); key = $1 "|" $2 "|" $3 "|" $4 "|" $5
    if (!(key in best)) order[n++] = key
    if (!(key in best) || best[key] < 0 || t[1] < best[key]) { best[key] = t[1]; cpu[key] = t[2] + t[3]; rss[key] = t[4] }
    row = $1 "|" $2 "|" $3 "|" $4
    if (!(row in fastest) || t[1] < fastest[row]) fastest[row] = t[1] }
  END {
    printf "%-17s %5s %-8s %-4s %-20s %8s %8s %9s %8s %6s\n", "row", "MiB", "path", "dir", "client", "time s", "MiB/s", "CPU s/MiB", "RSS KiB", "ratio"
    for (i = 0; i < n; i++) { split(order[i], k, "|"); row = k[1] "|" k[2] "|" k[3] "|" k[4]
      if (best[order[i]] < 0) { printf "%-17s %5s %-8s %-4s %-20s %8s\n", k[1], k[2], k[3], k[4], k[5], "FAILED"; continue }
      w = best[order[i]]; if (w <= 0) w = 0.005
      f = fastest[row]; if (f <= 0) f = 0.005
      printf "%-17s %5s %-8s %-4s %-20s %8.2f %8.2f %9.4f %8d %6.2f\n", k[1], k[2], k[3], k[4], k[5], best[order[i]], k[2] / w, cpu[order[i]] / k[2], rss[order[i]], w / f } }' "$results"
