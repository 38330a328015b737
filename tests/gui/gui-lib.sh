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

stop_pid() {  # stop_pid <pid>: TERM, bounded wait, then KILL
  local pid="$1" i
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

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
    echo "SKIP: no display (run inside xvfb-run -a scripts/test-windows.sh)"
    exit 77
  fi
  for tool in xdotool wine python3 ss; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
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
  [ -x "$tftpd" ] || { echo "SKIP: in.tftpd (tftpd-hpa) missing"; exit 77; }
  user="$(id -un)"
  # in.tftpd changes to its service user for every request, which only root
  # may do: as anyone else each request dies unanswered.
  local runner=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
      runner=(sudo -n)
    else
      echo "SKIP: in.tftpd needs root or passwordless sudo"
      exit 77
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

visible() { helper visible "$1"; }
gone() { ! helper visible "$1"; }

wait_visible() { poll "$GUI_WAIT" visible "$1" || fail "window \"$1\" did not appear"; }
wait_gone() { poll "$GUI_WAIT" gone "$1" || fail "window \"$1\" did not close"; }

# click_control <title> <id>: a real mouse click on the control's centre.
click_control() {
  local centre
  centre="$(helper center "$1" "$2")" || fail "no control $2 in \"$1\""
  # shellcheck disable=SC2086
  xdotool mousemove $centre click 1
}

key() { xdotool key --delay 80 "$@"; }

text_is() {  # text_is <title> <id> <expected>
  local got
  got="$(helper text "$1" "$2")" || return 1
  [ "$got" = "$3" ]
}

# set_edit <id> <text>: clicks into the main window's edit, selects what is
# there and types the new text; the result is read back.
set_edit() {
  local id="$1" value="$2" attempt
  for ((attempt = 0; attempt < 3; attempt++)); do
    click_control "$GUI_MAIN_TITLE" "$id"
    key End shift+Home BackSpace
    [ -z "$value" ] || xdotool type --delay 40 -- "$value"
    if poll 10 text_is "$GUI_MAIN_TITLE" "$id" "$value"; then return 0; fi
  done
  fail "edit $id does not read \"$value\": \"$(helper text "$GUI_MAIN_TITLE" "$id")\""
}

set_check() {  # set_check <id> 0|1
  local id="$1" want="$2" state
  state="$(helper checked "$GUI_MAIN_TITLE" "$id")" || fail "check box $id unreadable"
  if [ "$state" != "$want" ]; then click_control "$GUI_MAIN_TITLE" "$id"; fi
  poll 10 checked_is "$id" "$want" || fail "check box $id did not become $want"
}
checked_is() { [ "$(helper checked "$GUI_MAIN_TITLE" "$1")" = "$2" ]; }

# type_into_file_dialog <title> <unix path>: the name box has the focus when
# the dialog opens; whatever it proposes is replaced.
type_into_file_dialog() {
  local title="$1" path attempt
  path="$(win_path "$2")"
  wait_visible "$title"
  for ((attempt = 0; attempt < 3; attempt++)); do
    key End shift+Home BackSpace
    xdotool type --delay 40 -- "$path"
    # On a loaded machine a typed key can go missing; the name box is read
    # back before the dialog is answered.
    if poll 10 name_box_reads "$title" "$path"; then break; fi
  done
  key Return
  wait_gone "$title"
}

# The name box of the common dialogs: a combo box (1148) in the explorer
# style, a plain edit (1152) otherwise. When neither is found the check is
# left to the log comparison that follows.
name_box_reads() {
  local id got status
  for id in 1148 1152; do
    status=0
    got="$(helper text "$1" "$id")" || status=$?
    [ "$status" -eq 3 ] && continue
    [ "$status" -eq 0 ] && [ "$got" = "$2" ]
    return
  done
  return 0
}

cancel_file_dialog() {
  wait_visible "$1"
  key Escape
  wait_gone "$1"
}

# The work log must read exactly the given lines, each ended by CR LF (the
# memo's own line ends); an empty argument is an empty line.
expected_log() {
  local line
  for line in "$@"; do printf '%s\r\n' "$line"; done
}

# Line ends made visible ("\r$"), so a missing or doubled CR LF shows.
visible_ends() { sed 's/\r$/\\r/; s/$/$/' "$1"; }
show_log_diff() {
  [ -f "$gui_work/log.actual" ] || : >"$gui_work/log.actual"
  diff -u --label expected --label actual <(visible_ends "$gui_work/log.expected") \
    <(visible_ends "$gui_work/log.actual") >&2 || true
}

log_matches() {
  helper text "$GUI_MAIN_TITLE" "$ID_LOG" >"$gui_work/log.actual" || return 1
  cmp -s "$gui_work/log.actual" "$gui_work/log.expected"
}

log_has_line() {  # log_has_line <line>: some line of the log is exactly this
  helper text "$GUI_MAIN_TITLE" "$ID_LOG" | tr -d '\r' | grep -qxF -- "$1"
}

# expect_log <line>...: waits until the log reads exactly these lines (the
# operation blocks the window, so reads fail until it has finished), then
# reads it once more after a round trip to make sure nothing follows.
expect_log() {
  expected_log "$@" >"$gui_work/log.expected"
  if ! poll "$GUI_WAIT" log_matches; then
    show_log_diff
    fail "work log differs"
  fi
  helper text "$GUI_MAIN_TITLE" "$ID_HOST" >/dev/null || fail "main window stopped answering"
  log_matches || { show_log_diff; fail "lines were added after the block"; }
}

# shoot_still <png>: the window answers before it has finished painting, so
# the screen is shot until two shots in a row agree (bounded).
shoot_still() {
  local shot="$1" next="${1%.png}-next.png"
  rm -f "$shot"
  still() {
    import -window root "$next"
    if [ -f "$shot" ] && compare -metric AE "$shot" "$next" null: >/dev/null 2>&1; then
      rm -f "$next"
      return 0
    fi
    mv "$next" "$shot"
    return 1
  }
  poll 30 still || fail "the screen kept changing"
}

# Alt accelerators go to the foreground window; a click on the log (which
# takes no action) makes sure that is the main window.
focus_main() { click_control "$GUI_MAIN_TITLE" "$ID_LOG"; }

# quit_app [click]: Alt+Q (or a click on the exit button) and a bounded
# wait for the process to end; sets GUI_EXIT.
quit_app() {
  if [ "${1:-}" = click ]; then
    click_control "$GUI_MAIN_TITLE" "$ID_EXIT"
  else
    focus_main
    key alt+q
  fi
  local i
  for ((i = 0; i < GUI_WAIT * 10; i++)); do
    kill -0 "$gui_app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$gui_app_pid" 2>/dev/null && fail "program still running ${GUI_WAIT}s after being told to quit"
  GUI_EXIT=0
  wait "$gui_app_pid" || GUI_EXIT=$?
  gui_app_pid=""
}
