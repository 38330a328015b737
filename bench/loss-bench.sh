#!/usr/bin/env bash
# Recovery from lost datagrams: tarnwick-cli against the usual TFTP clients
# through tarnwick-impair (a delay and a loss rate each way, fixed seeds), each
# client in turn on the same row in one run. Not part of the test run.
#
# Rows, each at every loss rate:
#   get512   512-byte lock-step get (no options)     against atftpd and tftpd-hpa
#   get1428  blksize 1428, lock-step get              against atftpd and tftpd-hpa
#   put1428  blksize 1428, lock-step put              against atftpd
#   getw16   blksize 1428 + windowsize 16, get        against atftpd
#   putw16   blksize 1428 + windowsize 16, put        against atftpd
# atftpd answers a re-sent ACK with the block it asks for; tftpd-hpa ignores
# it and waits for its own timer, which then bounds every client.
# Clients: tarnwick-cli, atftp, busybox tftp, curl, tftp-hpa's tftp, where they
# have the options of the row (the table marks the others "n/a").
# Every measurement has a relay of its own, started with the run's seed, so
# every client of a run meets the same loss pattern (datagram by datagram).
#
# Usage: bench/loss-bench.sh [--setup] [build folder]      (default build/release)
#          --setup     install the other clients first (apt: atftp busybox curl tftp-hpa time)
#        bench/loss-bench.sh --table RAW                   (the table of a saved raw file)
# Settings (environment, defaults in brackets):
#   BENCH_GET_MIB      file size of the get rows              [8]
#   BENCH_PUT_MIB      file size of the put rows              [2]
#   BENCH_REPS         runs of every row; the table shows the median  [3]
#   BENCH_CAP_S        per-client time cap: beyond it "> CAP s"       [300]
#   BENCH_LOSSES       loss rates each way, in per cent       [0 1 5]
#   BENCH_DELAY_MS     delay each way                         [1]
#   BENCH_SEED         run r uses seed + r - 1                [2]
#                      (seed 1 at 5 % drops the server's first datagram; atftpd's
#                      re-send of a lock-step first block is a 3-byte datagram and
#                      an ERROR, which ends every client's transfer in 1 s)
#   BENCH_ROWS         rows to run                            [get512 get1428 put1428 getw16 putw16]
#   BENCH_CLIENTS      clients on the atftpd rows             [tarnwick-cli atftp busybox curl tftp-hpa]
#   BENCH_HPA_CLIENTS  clients on the tftpd-hpa rows, "" for none  [same as BENCH_CLIENTS]
#   BENCH_RAW          append the raw results to this file as they come (a partial run
#                      keeps what it measured; render it with --table)      [none]
# Build first, e.g.:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release -j2 --target tarnwick-cli tarnwick-impair
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

rows_order="get512 get1428 put1428 getw16 putw16"
clients_order="tarnwick-cli atftp busybox curl tftp-hpa"

# The Markdown table of a raw file: one line per row, server and loss rate;
# wall seconds per client (median of the runs), tarnwick-cli's retransmissions
# (median, from its --json), its time against its own lossless time on the same
# row, and how many times faster it is than the best other client.
render_table() {
  awk -F'|' -v rows="$rows_order" -v clients="$clients_order" '
    function label(r) {
      if (r == "get512") return "512 lock-step get"
      if (r == "get1428") return "1428 lock-step get"
      if (r == "put1428") return "1428 lock-step put"
      if (r == "getw16") return "1428 + window 16 get"
      if (r == "putw16") return "1428 + window 16 put"
      return r }
    function sortn(a, n,   i, j, t) {
      for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t } }
    # Median of one cell; capped runs count as endless, failed ones as worse still.
    function median(key,   n, v, i, m) {
      n = split(vals[key], v, " "); if (n == 0) return ""
      for (i = 1; i <= n; i++) v[i] += 0
      sortn(v, n)
      if (n % 2) return v[(n + 1) / 2]
      if (v[n / 2 + 1] >= CAPPED) return v[n / 2 + 1]
      return (v[n / 2] + v[n / 2 + 1]) / 2 }
    function show(key, m,   s) {
      if (m == "") return skip[key] != "" ? "n/a (" skip[key] ")" : "not run"
      if (m >= FAILED) s = "failed"
      else if (m >= CAPPED) s = "> " cap[key] " s"
      else s = sprintf("%.2f", m)
      if (fails[key] > 0 && m < FAILED) s = s " (" fails[key] " of " runs[key] " failed)"
      return s }
    BEGIN { CAPPED = 1e9; FAILED = 2e9; nr = split(rows, R, " "); nc = split(clients, C, " ") }
    /^#/ { if ($0 ~ /^# settings/) settings = settings substr($0, 3) "\n"; next }
    {
      row = $1; server = $2; loss = $3; client = $5; status = $6; key = row "|" server "|" loss "|" client
      cell[row "|" server "|" loss] = 1; servers[server] = 1; losses[loss + 0] = loss
      if (status == "skip") { skip[key] = $7; next }
      runs[key]++
      if (status == "ok") { vals[key] = vals[key] " " $7; if ($9 != "") rt[key] = rt[key] " " $9; dg[key] = dg[key] " " $10 }
      else if (status == "cap") { vals[key] = vals[key] " " CAPPED; cap[key] = $7 }
      else { vals[key] = vals[key] " " FAILED; fails[key]++ }
    }
    END {
      if (settings != "") print settings
      printf "| row | server | loss each way |"
      for (c = 1; c <= nc; c++) printf " %s s |", C[c]
      print " tarnwick-cli retransmissions | tarnwick-cli datagrams (client+server) | tarnwick-cli / its lossless | best other / tarnwick-cli |"
      printf "|---|---|---:|"
      for (c = 1; c <= nc + 4; c++) printf "---:|"
      print ""
      nl = 0; for (l in losses) L[++nl] = l + 0
      sortn(L, nl)
      for (r = 1; r <= nr; r++) for (s = 0; s < 2; s++) {
        server = s ? "tftpd-hpa" : "atftpd"
        for (i = 1; i <= nl; i++) {
          loss = losses[L[i]]; base = R[r] "|" server "|" loss
          if (!(base in cell)) continue
          printf "| %s | %s | %s %% |", label(R[r]), server, loss
          ours = median(base "|tarnwick-cli"); best = ""
          for (c = 1; c <= nc; c++) {
            k = base "|" C[c]; m = median(k); printf " %s |", show(k, m)
            if (C[c] != "tarnwick-cli" && m != "" && (best == "" || m < best)) { best = m; bestkey = k } }
          # Retransmissions of the runs that finished.
          n = split(rt[base "|tarnwick-cli"], v, " ")
          if (n > 0) { for (j = 1; j <= n; j++) v[j] += 0; sortn(v, n); printf " %s |", n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }
          else printf " |"
          # Datagrams of the first finished run (the same seed gives much the same count).
          n = split(dg[base "|tarnwick-cli"], v, " "); printf " %s |", (n > 0 ? v[1] : "")
          own = (0 in losses) ? median(R[r] "|" server "|" losses[0] "|tarnwick-cli") : ""
          if (ours != "" && ours < CAPPED && own != "" && own < CAPPED && own > 0) printf " %.1fx |", ours / own
          else printf " |"
          if (ours == "" || ours >= CAPPED || best == "") printf " |"
          else if (best >= FAILED) printf " others failed |"
          else if (best >= CAPPED) printf " > %.1fx |", cap[bestkey] / ours
          else printf " %.1fx |", best / ours
          print "" } } }' "$1"
}

if [ "${1:-}" = --table ]; then
  render_table "$2"
  exit 0
fi

if [ "${1:-}" = --setup ]; then
  shift
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
    atftp busybox curl tftp-hpa time
  "$root/scripts/setup-debian.sh"  # tftpd-hpa, and atftpd in /opt/tarnwick-peers
fi
build=$(realpath "${1:-$root/build/release}")
impair=$build/tools/impair/tarnwick-impair
get_mib=${BENCH_GET_MIB:-8}
put_mib=${BENCH_PUT_MIB:-2}
reps=${BENCH_REPS:-3}
cap=${BENCH_CAP_S:-300}
losses=${BENCH_LOSSES:-0 1 5}
delay=${BENCH_DELAY_MS:-1}
seed=${BENCH_SEED:-2}
rows=${BENCH_ROWS:-$rows_order}
clients=${BENCH_CLIENTS:-$clients_order}
hpa_clients=${BENCH_HPA_CLIENTS-$clients}
for tool in "$impair" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing: $tool (build it, or --setup)" >&2; exit 2; }
done

source "$root/bench/bench-lib.sh"
bench_start loss-bench "$build/src/cli/tarnwick-cli"
bench_atftpd "${TARNWICK_ATFTPD:-/opt/tarnwick-peers/usr/sbin/atftpd}"
raw=${BENCH_RAW:-$work/raw.txt}
[ -n "${BENCH_RAW:-}" ] && raw=$(realpath "$BENCH_RAW")
echo "# settings: $(date -u '+%Y-%m-%d %H:%M UTC'); loss $losses % each way; get $get_mib MiB, put $put_mib MiB; delay $delay ms each way;" \
  "median of $reps runs (seeds $seed..$((seed + reps - 1))); cap $cap s per client" >>"$raw"

head -c $((get_mib * 1048576)) /dev/urandom >"$work/srv/get.bin"
chmod 666 "$work/srv/get.bin"
head -c $((put_mib * 1048576)) /dev/urandom >"$work/cli/put.bin"

# command <client> <row>: the client's command line for the row with {port}
# {remote} {local}, or "-why" when it cannot do the row. Runs in $work/cli.
command_for() {
  local client=$1 row=$2 dir=${2:0:3} b=512 w= ours theirs
  case "$row" in
    get1428 | put1428) b=1428 ;;
    getw16 | putw16) b=1428 w=16 ;;
  esac
  case "$client" in
    tarnwick-cli)
      ours="--port {port} --json"
      [ "$b" != 512 ] && ours+=" --blksize $b"
      [ -n "$w" ] && ours+=" --windowsize $w"
      [ "$dir" = get ] && echo "$cli get 127.0.0.1 {remote} {local} $ours" || echo "$cli put 127.0.0.1 {local} {remote} $ours"
      ;;
    atftp)
      theirs=
      [ "$b" != 512 ] && theirs+=" --option 'blksize $b'"
      [ -n "$w" ] && theirs+=" --option 'windowsize $w'"
      [ "$dir" = get ] && echo "atftp$theirs -g -r {remote} -l {local} 127.0.0.1 {port}" ||
        echo "atftp$theirs -p -l {local} -r {remote} 127.0.0.1 {port}"
      ;;
    busybox)
      [ -n "$w" ] && { echo "-no windowsize"; return; }
      theirs=
      [ "$b" != 512 ] && theirs=" -b $b"
      [ "$dir" = get ] && echo "busybox tftp$theirs -g -r {remote} -l {local} 127.0.0.1 {port}" ||
        echo "busybox tftp$theirs -p -l {local} -r {remote} 127.0.0.1 {port}"
      ;;
    curl)
      [ -n "$w" ] && { echo "-no windowsize"; return; }
      theirs=" --tftp-no-options"
      [ "$b" != 512 ] && theirs=" --tftp-blksize $b"
      [ "$dir" = get ] && echo "curl -sS$theirs -o {local} tftp://127.0.0.1:{port}/{remote}" ||
        echo "curl -sS$theirs -T {local} tftp://127.0.0.1:{port}/{remote}"
      ;;
    tftp-hpa)
      [ "$b" != 512 ] && { echo "-no blksize"; return; }
      [ "$dir" = get ] && echo "tftp -m binary 127.0.0.1 {port} -c get {remote} {local}" ||
        echo "tftp -m binary 127.0.0.1 {port} -c put {local} {remote}"
      ;;
  esac
}

# measure <row> <server> <loss %> <run> <client>: one transfer through a relay
# of its own; appends "row|server|loss|run|client|status|wall|cpu|retransmissions"
# |datagrams" to the raw file (status ok, cap, fail or skip; for skip, why
# instead of wall; datagrams as client+server, what each side sent).
measure() {
  local row=$1 server=$2 loss=$3 run=$4 client=$5 dir=${1:0:3} cmd remote local_file server_port rc
  local status=ok wall= user= sys= cpu= retrans= traffic= out=$work/time.out
  cmd=$(command_for "$client" "$row")
  if [ "${cmd:0:1}" = - ]; then
    [ "$run" = 1 ] && echo "$row|$server|$loss|$run|$client|skip|${cmd:1}||" >>"$raw"
    return 0
  fi
  server_port=$([ "$server" = atftpd ] && echo "$atftpd_port" || echo "$port")
  remote=get.bin local_file=$work/cli/got.bin
  [ "$dir" = put ] && remote=up-$client-$run.bin local_file=$work/cli/put.bin
  rm -f "$work/cli/got.bin"
  [ "$dir" = put ] && rm -f "$work/srv/$remote"
  bench_relay_start "$impair" "$server_port" --seed $((seed + run - 1)) --delay "$delay" \
    --loss "$(awk -v l="$loss" 'BEGIN { print l / 100 }')"
  cmd=${cmd//\{port\}/$relay_port}
  cmd=${cmd//\{remote\}/$remote}
  cmd=${cmd//\{local\}/$local_file}
  rc=0
  (cd "$work/cli" && eval "/usr/bin/time -f '%e %U %S' -o '$out' timeout -k 5 $cap $cmd" \
    >"$work/client.out" 2>"$work/client.log") || rc=$?
  bench_relay_stop
  # What each side sent (before the relay's losses): the cost of the recovery in traffic.
  traffic=$(sed -n 's/.*c2s received \([0-9]*\).*s2c received \([0-9]*\).*/\1+\2/p' "$work/relay.err")
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    status=cap wall=$cap
  elif [ "$rc" != 0 ]; then
    status=fail
  else
    read -r wall user sys <"$out"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
    # A wrong copy makes the time meaningless: it counts as a failure.
    if [ "$dir" = get ]; then
      cmp -s "$work/cli/got.bin" "$work/srv/get.bin" || status=fail
    else
      sleep 0.1  # the server may store the last block after acknowledging it
      cmp -s "$work/srv/$remote" "$work/cli/put.bin" || status=fail
    fi
  fi
  if [ "$client" = tarnwick-cli ]; then
    retrans=$(grep -o '"retransmissions":[0-9]*' "$work/client.out" | cut -d: -f2 || true)
  fi
  [ "$dir" = put ] && rm -f "$work/srv/$remote"
  echo "$row|$server|$loss|$run|$client|$status|$wall|$cpu|$retrans|$traffic" >>"$raw"
  echo "$(date -u +%H:%M:%S) $row $server ${loss}% run $run $client: $status ${wall:-}" \
    "${retrans:+retransmissions $retrans} datagrams $traffic" >&2
  if [ "$status" = fail ]; then tail -2 "$work/client.log" >&2; fi
  return 0
}

for loss in $losses; do
  for row in $rows; do
    servers=atftpd
    case "$row" in get512 | get1428) [ -n "$hpa_clients" ] && servers="atftpd tftpd-hpa" ;; esac
    for server in $servers; do
      list=$clients
      [ "$server" = tftpd-hpa ] && list=$hpa_clients
      for run in $(seq "$reps"); do
        for client in $list; do measure "$row" "$server" "$loss" "$run" "$client"; done
      done
    done
  done
done

render_table "$raw"
