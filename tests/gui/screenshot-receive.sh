#!/usr/bin/env bash
# Screenshot of the main window after a successful receive: a private Xvfb
# (1024 x 768, the virtual desktop's size), a tftpd-hpa on a loopback high
# port serving the demo configuration, the port typed into the window, the
# file received and saved, then the desktop and the main window shot.
# Usage: tests/gui/screenshot-receive.sh <win32 build dir> [output dir]
#   output dir defaults to build/screenshots; writes receive-desktop.png and
#   receive-main.png there.
# Needs the Wine prefix (scripts/wine-prefix.sh) and the targets Tarnwick and
# wgettext built in the build dir.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
[ $# -ge 1 ] || { echo "usage: $0 <win32 build dir> [output dir]" >&2; exit 2; }
build_dir="$(cd "$1" && pwd)"
out_dir="${2:-$root/build/screenshots}"
mkdir -p "$out_dir"
out_dir="$(cd "$out_dir" && pwd)"

if [ "${3:-}" != "--inside-x" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$build_dir" "$out_dir" --inside-x
fi

source "$root/scripts/wine-env.sh"
source "$here/gui-lib.sh"
exe="$(find "$build_dir" -name Tarnwick.exe -print -quit)"
helper_exe="$(find "$build_dir" -name wgettext.exe -print -quit)"
[ -n "$exe" ] && [ -n "$helper_exe" ] || { echo "build Tarnwick and wgettext in $build_dir first" >&2; exit 2; }
# A server of its own, so the desktop is on this script's display.
wineserver -p
gui_init "$exe" "$helper_exe"
trap 'gui_cleanup; wineserver -k || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true

start_tftpd
cp "$root/demo/config" "$gui_work/server/config"
start_app
set_edit "$ID_PORT" "$GUI_PORT"
focus_main
key alt+r
type_into_file_dialog "$GUI_SAVE_TITLE" "$gui_work/local/config.txt"
poll "$GUI_WAIT" log_has_line "受信が無事完了しました" || fail "the receive did not complete"
cmp "$gui_work/server/config" "$gui_work/local/config.txt" || fail "saved file differs"
# Move the pointer off the buttons, so none is drawn in its hover colour.
xdotool mousemove 1010 10
poll 10 main_answers || fail "main window stopped answering"
shoot_still "$out_dir/receive-desktop.png"
geometry="$(helper rect "$GUI_MAIN_TITLE" 0)" || fail "main window rectangle unreadable"
convert "$out_dir/receive-desktop.png" -crop "${geometry%$'\n'}" +repage "$out_dir/receive-main.png"
echo "screenshots: $out_dir/receive-main.png (window $geometry), $out_dir/receive-desktop.png"
