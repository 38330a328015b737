# Shared harness of the end-to-end cases, sourced by run-case.sh: a private
# work folder, a tftpd-hpa on a loopback high port, the program started from
# a copy in the work folder (so its crash log and settings land there), and
# bounded polling of the window through wgettext.exe. Everything started here
# is stopped by PID when the case ends, passed or failed.

GUI_MAIN_TITLE="Tarnwick LE"
GUI_CONFIRM_TITLE="ファイル送信の確認"
GUI_ABOUT_TITLE="このアプリケーションについて"
GUI_SAVE_TITLE="Save File ..."
GUI_OPEN_TITLE="Select File to put ..."
# Waits are bounded but generous: the machine is shared with other builds
# and a cold Wine start can take many seconds.
GUI_WAIT="${TARNWICK_GUI_WAIT:-90}"

# Control ids of the main window (src/app/ControlIds.h).
ID_HOST=1010 ID_PORT=1011 ID_FILE=1012 ID_PASSWORD=1013 ID_DELIMITER=1014
ID_MASK=1015 ID_NO_CONFIRM=1016 ID_EXIT=1023 ID_LOG=1032
ID_CONFIRM_MEMO=1101 ID_CONFIRM_EXECUTE=1102 ID_CONFIRM_CANCEL=1103 ID_ABOUT_MEMO=1201 ID_ABOUT_CLOSE=1202

gui_work=""
gui_app_pid=""
gui_tftpd_pid=""
gui_silent_pid=""
gui_demo_pid=""

fail() {
  echo "FAIL: $*" >&2
  if [ -n "$gui_app_pid" ] && [ -n "$gui_work" ]; then
    echo "--- work log at failure:" >&2
    helper text "$GUI_MAIN_TITLE" "$ID_LOG" >&2 || echo "(unreadable)" >&2
    echo "---" >&2
  fi
  exit 1
}

note() { echo "[$(date -u +%T)] $*"; }

# missing_peer <why>: the case cannot run on this machine. A skip (exit 77,
# which CTest counts as skipped) for a developer without the peer; a failure
# where TARNWICK_REQUIRE_PEERS=1, as the project's test command sets it, so
# that a machine without the display, Wine or tftpd-hpa cannot report green.
missing_peer() {
  if [ "${TARNWICK_REQUIRE_PEERS:-}" = 1 ]; then
    echo "FAIL: missing peer (TARNWICK_REQUIRE_PEERS=1): $*" >&2
    exit 1
  fi
  echo "SKIP: $*"
  exit 77
}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/process-lib.sh"

gui_cleanup() {
  stop_pid "$gui_app_pid"
  stop_pid "$gui_tftpd_pid"
  stop_pid "$gui_silent_pid"
  stop_pid "$gui_demo_pid"
  if [ -n "$gui_work" ] && [ -z "${TARNWICK_GUI_KEEP:-}" ]; then rm -rf "$gui_work"; fi
}

gui_init() {  # gui_init <Tarnwick.exe> <wgettext.exe>
  GUI_EXE="$1"
  GUI_HELPER="$2"
  if [ -z "${DISPLAY:-}" ]; then
    missing_peer "no display (run inside xvfb-run -a scripts/test-windows.sh)"
  fi
  for tool in xdotool wine python3 ss; do
    command -v "$tool" >/dev/null || missing_peer "$tool missing"
  done
  [ -f "$GUI_EXE" ] || fail "program not built: $GUI_EXE"
  [ -f "$GUI_HELPER" ] || fail "helper not built: $GUI_HELPER"
  gui_work="$(mktemp -d /tmp/tarnwick-gui.XXXXXX)"
  chmod 0755 "$gui_work"
  mkdir -p "$gui_work/app" "$gui_work/local" "$gui_work/server"
  # tftpd-hpa drops to its user before touching files; uploads need to
  # create files here.
  chmod 0777 "$gui_work/server"
  trap gui_cleanup EXIT
  # A time-out of the test runner stops us with a signal: clean up then too.
  trap 'exit 1' TERM INT HUP
}

helper() { timeout 60 wine "$GUI_HELPER" "$@" 2>/dev/null; }

# poll <seconds> <command...>: runs the command until it succeeds; status 1
# when the deadline passes first.
poll() {
  local limit="$1" end
  shift
  end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.3
  done
}

win_path() {  # Wine maps / to drive Z:
  local p="$1"
  printf 'Z:%s' "${p//\//\\}"
}

free_udp_port() {
  python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

udp_bound() { ss -Hlun "sport = :$1" 2>/dev/null | grep -q "127.0.0.1:$1"; }

# Starts tftpd-hpa serving (and accepting uploads into) $gui_work/server and
# sets GUI_PORT. A port taken between choosing and binding is retried.
start_tftpd() {
  local tftpd=/usr/sbin/in.tftpd user attempt
  [ -x "$tftpd" ] || missing_peer "in.tftpd (tftpd-hpa) missing"
  user="$(id -un)"
  # in.tftpd changes to its service user for every request, which only root
  # may do: as anyone else each request dies unanswered.
  local runner=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
      runner=(sudo -n)
    else
      missing_peer "in.tftpd needs root or passwordless sudo"
    fi
  fi
  for ((attempt = 0; attempt < 5; attempt++)); do
    GUI_PORT="$(free_udp_port)"
    local args=(-L -a "127.0.0.1:$GUI_PORT" -c -p -u "$user" -s)
    "${runner[@]}" "$tftpd" "${args[@]}" "$gui_work/server" >"$gui_work/tftpd.out" 2>&1 &
    gui_tftpd_pid=$!
    if poll 20 udp_bound "$GUI_PORT" && kill -0 "$gui_tftpd_pid" 2>/dev/null; then
      note "tftpd-hpa pid $gui_tftpd_pid on 127.0.0.1:$GUI_PORT"
      return 0
    fi
    stop_pid "$gui_tftpd_pid"
    gui_tftpd_pid=""
  done
  fail "tftpd-hpa did not start: $(cat "$gui_work/tftpd.out")"
}

# A UDP port that is bound but never answers: the device that stays silent.
start_silent_peer() {
  GUI_PORT="$(free_udp_port)"
  python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
time.sleep(600)' "$GUI_PORT" &
  gui_silent_pid=$!
  poll 20 udp_bound "$GUI_PORT" || fail "silent peer did not bind $GUI_PORT"
}

main_answers() { helper text "$GUI_MAIN_TITLE" "$ID_LOG" >/dev/null; }

start_app() {
  cp "$GUI_EXE" "$gui_work/app/Tarnwick.exe"
  local started
  started="$(date +%s%N)"
  (cd "$gui_work/app" && exec wine Tarnwick.exe >"$gui_work/app.out" 2>&1) &
  gui_app_pid=$!
  poll "$GUI_WAIT" main_answers || fail "main window did not appear within ${GUI_WAIT}s"
  note "Tarnwick.exe pid $gui_app_pid is up after $((($(date +%s%N) - started) / 1000000)) ms"
}

# Driving and reading the window: clicks, typing, dialogs, the work log.
source "$(dirname "${BASH_SOURCE[0]}")/gui-window.sh"
