#!/usr/bin/env bash
# The run command: from a fresh Debian 12 machine to Tarnwick's window.
# Installs what is missing, creates the Wine prefix, builds Tarnwick.exe into
# build/win32, starts the demo device (scripts/demo-device.sh) and runs the
# program under Wine:
#   - with DISPLAY set, on the user's display, inside the prefix's virtual
#     desktop (so the program's own code paints its title bar); the demo
#     device stops when the program ends;
#   - without DISPLAY (or with --headless), on a private Xvfb: waits for the
#     window, saves a screenshot under build/screenshots/, says where it is,
#     closes the program and stops the demo device.
# Usage: scripts/run.sh [--headless]
# Overrides: TARNWICK_BUILD_DIR (default build/win32), TARNWICK_WINEPREFIX.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TARNWICK_BUILD_DIR:-$root/build/win32}"
wait_limit=120  # seconds; a cold Wine start on a busy machine can be slow

poll() {  # poll <seconds> <command...>
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.3
  done
}

source "$root/scripts/process-lib.sh"

# Runs on the private X server: start, wait for the window, shoot, close.
headless_inside() {
  local exe="$1" helper_exe="$2" shots="$3" app_pid shot
  source "$root/scripts/wine-env.sh"
  wineserver -p
  trap 'wineserver -k || true' EXIT
  wine "$exe" >/dev/null 2>&1 &
  app_pid=$!
  window_up() { timeout 60 wine "$helper_exe" text "Tarnwick LE" 1032 >/dev/null 2>&1; }
  if ! poll "$wait_limit" window_up; then
    stop_pid "$app_pid"
    echo "run: the main window did not appear within ${wait_limit}s" >&2
    return 1
  fi
  xdotool mousemove 1010 10  # off the buttons, so none shows its hover colour
  mkdir -p "$shots"
  shot="$shots/main-$(date -u +%Y%m%d-%H%M%S).png"
  # The window answers before it has finished painting: shoot until two
  # shots in a row agree.
  local next="${shot%.png}-next.png"
  still() {
    import -window root "$next"
    if [ -f "$shot" ] && compare -metric AE "$shot" "$next" null: >/dev/null 2>&1; then
      rm -f "$next"
      return 0
    fi
    mv "$next" "$shot"
    return 1
  }
  poll 30 still || echo "run: the screen kept changing; the last shot is kept" >&2
  rm -f "$next"
  echo "run: screenshot of the main window: $shot"
  # Nobody can reach this display: close the program as the user would.
  xdotool key alt+q
  poll 30 eval '! kill -0 '"$app_pid"' 2>/dev/null' || stop_pid "$app_pid"
  wait "$app_pid" 2>/dev/null || true
}

if [ "${1:-}" = "--inside-x" ]; then
  headless_inside "$2" "$3" "$4"
  exit
fi

echo "run: installing what is missing (scripts/setup-debian.sh)"
"$root/scripts/setup-debian.sh"
echo "run: Wine prefix (scripts/wine-prefix.sh)"
"$root/scripts/wine-prefix.sh"
source "$root/scripts/wine-env.sh"

echo "run: building Tarnwick.exe in $build"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j2 --target Tarnwick
exe="$build/src/app/Tarnwick.exe"
[ -f "$exe" ] || { echo "run: $exe was not built" >&2; exit 1; }

port_file="$(mktemp /tmp/tarnwick-run-port.XXXXXX)"
rm -f "$port_file"
"$root/scripts/demo-device.sh" --port-file "$port_file" &
demo_pid=$!
trap 'stop_pid "$demo_pid"; rm -f "$port_file"' EXIT
if ! poll 30 test -s "$port_file"; then
  echo "run: the demo device did not start" >&2
  exit 1
fi
port="$(cat "$port_file")"
if [ "$port" != 69 ]; then
  echo "run: NOTE the demo device listens on port $port, not 69: type $port into ポート番号."
fi

if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--headless" ]; then
  echo "run: starting Tarnwick on $DISPLAY; the demo device stops when you close the program."
  status=0
  wine "$exe" || status=$?
  echo "run: Tarnwick ended (status $status)."
  exit "$status"
fi

# Headless: the window needs the reader helper to know when it is up.
cmake --build "$build" -j2 --target wgettext
helper_exe="$build/tests/gui/wgettext.exe"
echo "run: no display; starting Tarnwick on a private Xvfb"
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  "$0" --inside-x "$exe" "$helper_exe" "$root/build/screenshots"
