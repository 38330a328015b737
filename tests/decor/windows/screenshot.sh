#!/usr/bin/env bash
# Screenshots of the title-bar buttons: the demo window (main window's size)
# as shown, with always-on-top pressed and rolled up; then the real main
# window (Tarnwick.exe, when built) as shown and after a mouse click on its
# roll-up button.
# Usage: tests/decor/windows/screenshot.sh <win32 build dir> <output dir>
# Needs the Wine prefix (scripts/wine-prefix.sh); runs its own X server.
set -euo pipefail
build_dir="$(cd "$1" && pwd)"
out_dir="$2"
mkdir -p "$out_dir"
out_dir="$(cd "$out_dir" && pwd)"
root="$(cd "$(dirname "$0")/../../.." && pwd)"
demo="$(find "$build_dir" -name decor_demo.exe -print -quit)"
[ -n "$demo" ] || { echo "decor_demo.exe not found under $build_dir" >&2; exit 2; }
main_exe="$(find "$build_dir" -name Tarnwick.exe -print -quit)"

shoot() {  # runs inside xvfb-run
  source "$root/scripts/wine-env.sh"
  wineserver -p
  trap 'wineserver -k || true' EXIT
  wine cmd /c exit >/dev/null 2>&1 || true
  for mode in shown pressed rolled; do
    wine "$demo" "$mode" >/dev/null 2>&1 &
    local pid=$!
    sleep 4
    import -window root "$out_dir/decor-$mode.png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sleep 1
  done
  [ -n "$main_exe" ] || return 0
  wine "$main_exe" >/dev/null 2>&1 &
  local pid=$!
  sleep 5
  import -window root "$out_dir/decor-main.png"
  # The main window is centred on the 1024 x 768 desktop, 618 pixels wide;
  # the roll-up button is the third to the left of the standard three.
  local right=$(( (1024 + 618) / 2 ))
  xdotool mousemove $(( right - 99 )) 227 click 1
  sleep 3
  import -window root "$out_dir/decor-main-rolled.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
if [ "${3:-}" = "--inside-x" ]; then
  shoot
  exit 0
fi
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$build_dir" "$out_dir" --inside-x
ls -l "$out_dir"/decor-*.png
