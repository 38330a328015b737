# Window side of the harness, sourced by gui-lib.sh: finding windows by
# title with bounded polls, real clicks and typing through xdotool, answering
# the file dialogs, and exact comparison of the work log.

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

# An error raised inside a click handler goes to the program's error
# handler, which shows it in a dialog or writes it to its log file beside
# the program. error_shown <text>: either holds the text; sets
# GUI_ERROR_WINDOW to the dialog's title ("" when only the log has it).
error_shown() {
  local found f
  if found="$(helper find "$1")"; then
    GUI_ERROR_WINDOW="${found%$'\n'}"
    return 0
  fi
  for f in "$gui_work"/app/*.log; do
    [ -f "$f" ] || continue
    if iconv -f CP932 -t UTF-8 "$f" 2>/dev/null | grep -qF -- "$1"; then
      GUI_ERROR_WINDOW=""
      return 0
    fi
  done
  return 1
}

# expect_error_report <text> <unix path>: the error naming the path is
# reported; a dialog is answered with Escape and must close.
expect_error_report() {
  poll "$GUI_WAIT" error_shown "$1" || fail "the error \"$1\" was shown nowhere"
  [ -n "$GUI_ERROR_WINDOW" ] || return 0
  note "error shown in \"$GUI_ERROR_WINDOW\""
  helper find "$(win_path "$2")" >/dev/null || fail "the error does not name $(win_path "$2")"
  key Escape
  poll "$GUI_WAIT" gone "$GUI_ERROR_WINDOW" || fail "error window did not close on Escape"
}
