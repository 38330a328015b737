#!/usr/bin/env bash
# System calls per TFTP block of tarnwick-cli and of tftp-hpa's tftp client,
# counted with strace -c -f over a 1 MiB get and put against tftpd-hpa on
# loopback (2049 blocks each way). Only calls made at least once per block
# are listed (90% of the blocks or more). With valgrind installed, also the
# user instructions per MiB (callgrind), from a 1 MiB and a 9 MiB transfer so
# that the start-up cost drops out. Not part of the test run.
# Usage: bench/tftp-syscalls.sh [path/to/tarnwick-cli]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
blocks=2049  # 1 MiB in 512-byte blocks, plus the empty last one
source "$root/bench/bench-lib.sh"
bench_start syscalls "${1:-$root/build/release/src/cli/tarnwick-cli}" strace
head -c 1048576 /dev/urandom > "$work/srv/f.bin"
cp "$work/srv/f.bin" "$work/cli/up.bin"

cd "$work/cli"
count() {  # count LABEL COMMAND...
  local label=$1
  shift
  strace -c -f -o "$work/$label.txt" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  awk -v b="$blocks" -v label="$label" '
    # Columns: % time, seconds, usecs/call, calls, [errors,] name.
    $1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" {
      if ($4 + 0 >= 0.9 * b) line = line sprintf(" %s=%.2f", $NF, $4 / b) }
    $NF == "total" { total = $4 }
    END { printf "%-18s total/block=%.2f  %s\n", label, total / b, line }' "$work/$label.txt"
}
count "tarnwick-cli get" "$cli" get 127.0.0.1 f.bin got-ours --port "$port" --quiet
count "tarnwick-cli put" "$cli" put 127.0.0.1 up.bin up-ours.bin --port "$port" --quiet
count "tftp-hpa get" tftp -m binary 127.0.0.1 "$port" -c get f.bin got-theirs
count "tftp-hpa put" tftp -m binary 127.0.0.1 "$port" -c put up.bin up-theirs.bin
cmp -s got-ours "$work/srv/f.bin" && cmp -s "$work/srv/up-ours.bin" up.bin || { echo "copies differ" >&2; exit 1; }

# Instructions per MiB: (I(9 MiB) - I(1 MiB)) / 8, whole process, user space.
command -v valgrind >/dev/null || { echo "valgrind not installed: no instruction counts"; exit 0; }
head -c 9437184 /dev/urandom > "$work/srv/f9.bin"
cp "$work/srv/f9.bin" "$work/cli/up9.bin"
instructions() {  # instructions COMMAND...
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | awk '/Collected/ { print $4 }'
}
per_mib() {  # per_mib LABEL SMALL-COMMAND -- LARGE-COMMAND
  local label=$1 small=() large=() a b
  shift
  while [ "$1" != -- ]; do small+=("$1"); shift; done
  shift
  large=("$@")
  a=$(instructions "${small[@]}")
  b=$(instructions "${large[@]}")
  awk -v a="$a" -v b="$b" -v label="$label" 'BEGIN { printf "%-18s %.2f M instructions/MiB\n", label, (b - a) / 8 / 1e6 }'
}
per_mib "tarnwick-cli get" "$cli" get 127.0.0.1 f.bin g1 --port "$port" --quiet -- \
  "$cli" get 127.0.0.1 f9.bin g9 --port "$port" --quiet
per_mib "tarnwick-cli put" "$cli" put 127.0.0.1 up.bin p1.bin --port "$port" --quiet -- \
  "$cli" put 127.0.0.1 up9.bin p9.bin --port "$port" --quiet
per_mib "tftp-hpa get" tftp -m binary 127.0.0.1 "$port" -c get f.bin t1 -- \
  tftp -m binary 127.0.0.1 "$port" -c get f9.bin t9
per_mib "tftp-hpa put" tftp -m binary 127.0.0.1 "$port" -c put up.bin tp1.bin -- \
  tftp -m binary 127.0.0.1 "$port" -c put up9.bin tp9.bin
