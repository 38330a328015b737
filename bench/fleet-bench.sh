#!/usr/bin/env bash
# Nightly backup of many devices: `tarnwick-cli backup` against what an
# administrator scripts today, `xargs -P` over curl and over tftp-hpa's tftp,
# with the same parallelism, all fetching from the fleet simulator on
# loopback (one process, a loopback address per device). Prints wall time,
# CPU seconds (user + system of the whole tree) and peak RSS (GNU time's %M:
# the largest single process, so one curl or tftp for the scripted ones).
# Not part of the test run; installs curl and tftp-hpa when missing.
# Usage: bench/fleet-bench.sh [tarnwick-cli] [tarnwick-fleet-sim] [devices] [jobs...]
# NIGHTLY=1 adds rows for tarnwick-cli with the nightly options on (ignore
# rules, diffs, HTML report, state, --keep, an --on-done hook, --quiet), on
# a first night (empty DEST) and on a second night over the first one's DEST
# ("2nd": every device compared with its saved copy), beside the same two
# nights without them.
# Build first, e.g.:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release -j2 --target tarnwick-cli tarnwick-fleet-sim
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${1:-$root/build/release/src/cli/tarnwick-cli}")
sim=$(realpath "${2:-$root/build/release/tests/fleet/tarnwick-fleet-sim}")
devices=${3:-1000}
shift $(( $# < 3 ? $# : 3 ))
jobs_list=("${@:-1 8 32 128}")
read -r -a jobs_list <<<"${jobs_list[*]}"
size=65536

need=()
command -v curl >/dev/null || need+=(curl)
command -v tftp >/dev/null || need+=(tftp-hpa)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi
for tool in "$cli" "$sim"; do [ -x "$tool" ] || { echo "missing: $tool (build it first)" >&2; exit 2; }; done

work=$(mktemp -d /tmp/tarnwick-fleet-bench-XXXXXX)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# With NIGHTLY=1 every tenth device sends a new configuration on every
# request, so diffs and ignore rules have work to do each night.
for i in $(seq 0 $((devices - 1))); do
  behaviour=good
  [ "${NIGHTLY:-0}" = 1 ] && [ $((i % 10)) = 0 ] && behaviour=changing
  echo "d$i $behaviour $size 1 startup.cfg"
done >"$work/table.txt"
"$sim" "$work/table.txt" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' "$work/sim.out" || { echo "the simulator did not start" >&2; exit 2; }

echo "name,host,port,remote,password,delimiter" >"$work/inventory.csv"
awk '$1=="device" {print $2 "," $3 "," $4 ",startup.cfg,,"}' "$work/sim.out" >>"$work/inventory.csv"
chmod 600 "$work/inventory.csv"

# measure LABEL JOBS DEST COMMAND...: one row of the table. DEST starts
# empty, except for a label ending in "2nd" (the night after the last row).
measure() {
  local label=$1 jobs=$2 dest=$3
  shift 3
  [[ "$label" == *2nd ]] || { rm -rf "$dest" && mkdir -p "$dest"; }
  /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || true
  local count
  count=$(find "$dest" -maxdepth 1 -name '*.cfg' -size ${size}c | wc -l)
  read -r wall user sys rss <"$work/time.txt"
  printf '%-12s %5s %9.2f %9.2f %9.1f %7s/%s\n' "$label" "$jobs" "$wall" "$(echo "$user + $sys" | bc -l 2>/dev/null ||
    awk -v u="$user" -v s="$sys" 'BEGIN{print u+s}')" "$(awk -v k="$rss" 'BEGIN{print k/1024}')" "$count" "$devices"
}

printf '%-12s %5s %9s %9s %9s %9s\n' client jobs "wall s" "CPU s" "RSS MiB" saved
for jobs in "${jobs_list[@]}"; do
  measure tarnwick-cli "$jobs" "$work/ours" "$cli" backup "$work/inventory.csv" --dest "$work/ours" --jobs "$jobs" \
    --no-progress
  if [ "${NIGHTLY:-0}" = 1 ]; then
    measure "plain 2nd" "$jobs" "$work/ours" "$cli" backup "$work/inventory.csv" --dest "$work/ours" --jobs "$jobs" \
      --no-progress
    nightly=(--ignore '^! Last configuration change' --ignore '^ntp clock-period' --diff --report "$work/night.html"
      --keep 5 --on-done true --quiet --no-progress)
    measure "nightly" "$jobs" "$work/night" "$cli" backup "$work/inventory.csv" --dest "$work/night" --jobs "$jobs" \
      "${nightly[@]}"
    measure "nightly 2nd" "$jobs" "$work/night" "$cli" backup "$work/inventory.csv" --dest "$work/night" \
      --jobs "$jobs" "${nightly[@]}"
  fi
  awk -F, -v d="$work/curl" 'NR>1 {print "-o " d "/" $1 ".cfg tftp://" $2 ":" $3 "/startup.cfg"}' \
    "$work/inventory.csv" >"$work/curl.args"
  measure "xargs curl" "$jobs" "$work/curl" xargs -P "$jobs" -L 1 -a "$work/curl.args" curl -s -S
  awk -F, -v d="$work/hpa" 'NR>1 {print $2 " " $3 " -c get startup.cfg " d "/" $1 ".cfg"}' \
    "$work/inventory.csv" >"$work/hpa.args"
  measure "xargs tftp" "$jobs" "$work/hpa" xargs -P "$jobs" -L 1 -a "$work/hpa.args" tftp -m binary
done
echo "($(nproc) CPUs; the simulator runs on the same machine and shares them)"
