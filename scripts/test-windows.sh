#!/usr/bin/env bash
# Runs the Windows build's tests through Wine. Called inside xvfb-run, so GUI
# tests have a display; the persistent wineserver (warmed up with its
# services' output on /dev/null) keeps CTest from waiting on inherited pipes.
set -euo pipefail
build_dir="$1"; shift
source "$(dirname "$0")/wine-env.sh"
wineserver -p || true   # already persistent: keep using it
trap 'wineserver -k || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true
# The tests read TARNWICK_REQUIRE_PEERS inside the Windows process: make sure
# Wine hands it over, or a missing peer would quietly skip again.
if [ -n "${TARNWICK_REQUIRE_PEERS:-}" ]; then
  seen=$(wine cmd /c echo %TARNWICK_REQUIRE_PEERS% 2>/dev/null | tr -d '\r')
  if [ "$seen" != "$TARNWICK_REQUIRE_PEERS" ]; then
    echo "Wine did not pass TARNWICK_REQUIRE_PEERS through (saw '$seen')" >&2
    exit 1
  fi
fi
ctest --test-dir "$build_dir" --output-on-failure --timeout 300 "$@"
