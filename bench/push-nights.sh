#!/usr/bin/env bash
# Nightly backups and serve --archive on one DEST, night after night: each
# night some pulled devices change and `backup --git` runs while every
# push-only device pushes a changed configuration in the middle of it. The
# pulled devices are a second `tarnwick-cli serve` holding their files.
# Checked at the end: every saved copy is the device's last one (pulled or
# pushed), every change left its history copy, every push and every pull is
# in a log or a report, no backup failed for the lock, `git fsck` is clean.
# A soak, not part of the test run.
# Usage: bench/push-nights.sh [build dir, default build/release] [nights, default 10]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/release}")
nights=${2:-10}
pulled=20 pushing=20
cli=$build/src/cli/tarnwick-cli
[ -x "$cli" ] || { echo "missing: $cli (build tarnwick-cli)" >&2; exit 2; }
source "$root/scripts/process-lib.sh"

work=$(mktemp -d /tmp/tarnwick-push-nights-XXXXXX)
devices_pid= archive_pid=
trap 'stop_pid "$archive_pid"; stop_pid "$devices_pid"; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
chmod 777 "$work"
mkdir -p "$work/devices" "$work/pushes" "$work/reports"
chmod 777 "$work/reports"
# Started as root, serve runs as nobody: the backup must be the same user,
# as it is where both share a DEST.
as_serve=()
[ "$(id -u)" -ne 0 ] || as_serve=(runuser -u nobody --)
config() { awk -v n="$1" -v v="$2" 'BEGIN { print "hostname " n; print "! version " v; for (l = 1; l <= 400; l++) print "interface ge-0/0/" l " description " n }'; }
for i in $(seq -w 1 $pulled); do config "pull$i" 0 >"$work/devices/pull$i.cfg"; done
chmod -R a+rwX "$work/devices"

# start <name> <args>: a serve in the background; its port in ${name}_port.
start() {
  local name=$1
  shift
  "$cli" serve "$@" --port 0 --listen 127.0.0.1 --per-client 100000 --request-rate 0 --log-json \
    </dev/null >"$work/$name.jsonl" 2>"$work/$name.err" &
  eval "${name}_pid=$!"
  for _ in $(seq 100); do grep -q 'listening on' "$work/$name.err" 2>/dev/null && break; sleep 0.1; done
  eval "${name}_port=$(sed -n 's/^serve: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$name.err" | head -1)"
}
start devices "$work/devices"
{
  echo "name,host,port,remote,password,delimiter,push"
  for i in $(seq -w 1 $pulled); do echo "pull$i,127.0.0.1,$devices_port,pull$i.cfg,,,"; done
  for i in $(seq -w 1 $pushing); do echo "push$i,127.0.0.1,69,,,,yes"; done
} >"$work/inventory.csv"
start archive --archive "$work/dest" --inventory "$work/inventory.csv" --git

backup_failures=0 waited=0
for night in $(seq 1 "$nights"); do
  for i in 01 02 03 04 05; do config "pull$i" "$night" >"$work/devices/pull$i.cfg"; done
  "${as_serve[@]}" "$cli" backup "$work/inventory.csv" --dest "$work/dest" --git --quiet \
    --report "$work/reports/night$night.json" >/dev/null 2>"$work/backup$night.err" &
  backup=$!
  for i in $(seq -w 1 $pushing); do
    config "push$i" "$night" >"$work/pushes/push$i.cfg"
    "$cli" put 127.0.0.1 "$work/pushes/push$i.cfg" "push$i.cfg" --port "$archive_port" --quiet >/dev/null 2>&1 ||
      echo "night $night: push$i's push failed"
  done
  wait "$backup" || { echo "night $night: backup exit $?: $(tail -3 "$work/backup$night.err")"; backup_failures=$((backup_failures + 1)); }
  grep -q "waiting for its turn" "$work/backup$night.err" && waited=$((waited + 1))
  for _ in $(seq 300); do
    [ "$(grep -c '"event":"archive","device":"push' "$work/archive.jsonl" || true)" -ge $((night * pushing)) ] && break
    sleep 0.1
  done
done
sleep 1

wrong=0
for i in $(seq -w 1 $pulled); do cmp -s "$work/devices/pull$i.cfg" "$work/dest/pull$i.cfg" || { echo "pull$i: saved copy is not the device's"; wrong=$((wrong + 1)); }; done
for i in $(seq -w 1 $pushing); do cmp -s "$work/pushes/push$i.cfg" "$work/dest/push$i.cfg" || { echo "push$i: saved copy is not the last push"; wrong=$((wrong + 1)); }; done
history_pulled=$( (find "$work/dest/history" -path '*/pull*' -name '*.cfg' 2>/dev/null || true) | wc -l)
history_pushed=$( (find "$work/dest/history" -path '*/push*' -name '*.cfg' 2>/dev/null || true) | wc -l)
pushes_logged=$(grep -c '"event":"archive","device":"push' "$work/archive.jsonl" || true)
pulls_reported=$(cat "$work"/reports/*.json | grep -c '"device": "pull' || true)
fsck=$(git -c safe.directory='*' -C "$work/dest" fsck --no-progress >/dev/null 2>&1 && echo clean || echo FAILED)
commits=$(git -c safe.directory='*' -C "$work/dest" rev-list --count HEAD)
left=$(find "$work/dest/.tarnwick-spool" -type f | wc -l)
echo "nights: $nights; pulled devices: $pulled (5 change a night); push-only devices: $pushing (all change a night)"
echo "backups failed: $backup_failures; nights a backup waited for serve: $waited"
echo "saved copies not the last one: $wrong; pushes left in the spool: $left"
echo "history copies: pulled $history_pulled (expected $((5 * (nights - 1)))), pushed $history_pushed (expected $((pushing * (nights - 1))))"
echo "pushes in serve's log: $pushes_logged (expected $((pushing * nights))); pulled rows in the reports: $pulls_reported (expected $((pulled * nights)))"
echo "commits: $commits; git fsck: $fsck"
