#!/usr/bin/env bash
# Throughput of tarnwick-cli against tftp-hpa's tftp client, both talking to
# the same tftpd-hpa server on loopback in the same run. Not part of the test
# run. Usage: bench/tftp-bench.sh [path/to/tarnwick-cli] [runs]
# Build first, e.g.:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release -j2 --target tarnwick-cli
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${2:-3}
source "$root/bench/bench-lib.sh"
bench_start bench "${1:-$root/build/release/src/cli/tarnwick-cli}"

for mib in 1 8 32; do head -c $((mib * 1048576)) /dev/urandom > "$work/srv/f$mib.bin"; done

# run_once LABEL COMMAND... : prints "real user sys" of the command.
run_once() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 || { echo "failed: $*" >&2; return 1; }
}

# best_of: the run with the lowest wall time out of $runs.
best_of() {
  local best= line
  for _ in $(seq "$runs"); do
    line=$(run_once "$@")
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then best=$line; fi
  done
  echo "$best"
}

printf '%-5s %-4s %-12s %8s %9s %12s %7s\n' size dir client "time s" "MB/s" "CPU s/MiB" ratio
cd "$work/cli"
for mib in 1 8 32; do
  name=f$mib.bin
  for dir in get put; do
    if [ "$dir" = get ]; then
      ours=(best_of "$cli" get 127.0.0.1 "$name" "got-ours" --port "$port" --quiet)
      theirs=(best_of tftp -m binary 127.0.0.1 "$port" -c get "$name" "got-theirs")
    else
      cp "$work/srv/$name" "up.bin"
      ours=(best_of "$cli" put 127.0.0.1 up.bin "up-ours-$mib.bin" --port "$port" --quiet)
      theirs=(best_of tftp -m binary 127.0.0.1 "$port" -c put up.bin "up-theirs-$mib.bin")
    fi
    read -r ro uo so < <("${ours[@]}")
    read -r rt ut st < <("${theirs[@]}")
    # Both copies must be exact, or the numbers mean nothing.
    if [ "$dir" = get ]; then
      cmp -s got-ours "$work/srv/$name" && cmp -s got-theirs "$work/srv/$name" || { echo "get $name differs" >&2; exit 1; }
    else
      cmp -s "$work/srv/up-ours-$mib.bin" up.bin && cmp -s "$work/srv/up-theirs-$mib.bin" up.bin ||
        { echo "put $name differs" >&2; exit 1; }
    fi
    awk -v m="$mib" -v d="$dir" -v ro="$ro" -v uo="$uo" -v so="$so" -v rt="$rt" -v ut="$ut" -v st="$st" 'BEGIN {
      printf "%-5s %-4s %-12s %8.3f %9.2f %12.5f %7.2f\n", m "M", d, "tarnwick-cli", ro, m * 1.048576 / ro, (uo + so) / m, ro / rt
      printf "%-5s %-4s %-12s %8.3f %9.2f %12.5f %7s\n", m "M", d, "tftp-hpa", rt, m * 1.048576 / rt, (ut + st) / m, "1.00"
    }'
  done
done
