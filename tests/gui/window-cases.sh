# Window cases: the start state, the About dialog opened and closed many
# times, and leaving the program.

case_startup_values() {
  start_app
  local expect=("$ID_HOST" "127.0.0.1" "$ID_PORT" "69" "$ID_FILE" "config" "$ID_PASSWORD" ""
    "$ID_DELIMITER" "/" "$ID_LOG" "")
  local i
  for ((i = 0; i < ${#expect[@]}; i += 2)); do
    text_is "$GUI_MAIN_TITLE" "${expect[i]}" "${expect[i + 1]}" ||
      fail "control ${expect[i]} reads \"$(helper text "$GUI_MAIN_TITLE" "${expect[i]}")\", not \"${expect[i + 1]}\""
  done
  checked_is "$ID_MASK" 1 || fail "password masking is not on at start"
  checked_is "$ID_NO_CONFIRM" 0 || fail "confirmation is switched off at start"
  # The password box echoes stars, but the text it hands on is the typed one.
  set_edit "$ID_PASSWORD" "s3cret"
}

# The About text: 78 lines, a header framed by two rules of 51 hyphens, a
# line holding one blank, the sections in their order.
about_text_checks() {
  local rule lines=()
  rule="$(printf '%*s' 51 '' | tr ' ' -)"
  mapfile -t lines < <(printf '%s' "$1" | tr -d '\r')
  [ "${#lines[@]}" -eq 78 ] || fail "About text has ${#lines[@]} lines, not 78"
  [ "${lines[0]}" = "$rule" ] && [ "${lines[3]}" = "$rule" ] || fail "About header is not framed by 51 hyphens"
  [ "${lines[4]}" = " " ] || fail "line 5 of the About text is not a single blank: \"${lines[4]}\""
  [ "${lines[5]}" = "ご利用いただきありがとうございます。" ] || fail "thank-you line missing: \"${lines[5]}\""
  local order=("■Tarnwick について" "■特徴" "■重要な仕様" "■インストール方法" "■アンインストール方法"
    "■既知の不具合" "■改修履歴") heading at=-1 i
  for heading in "${order[@]}"; do
    for ((i = at + 1; i < ${#lines[@]}; i++)); do [ "${lines[i]}" = "$heading" ] && break; done
    [ "$i" -lt "${#lines[@]}" ] || fail "About section \"$heading\" missing or out of order"
    at=$i
  done
}

about_open() { helper count "$GUI_ABOUT_TITLE"; }

# Each click creates a dialog that is released after it closes: after many
# rounds the process owns as many top-level windows as before the first.
case_about_repeated() {
  start_app
  local before rounds="${TARNWICK_GUI_ABOUT_ROUNDS:-8}" i memo
  before="$(helper owned "$GUI_MAIN_TITLE")" || fail "cannot count the program's windows"
  for ((i = 1; i <= rounds; i++)); do
    focus_main
    key alt+a
    wait_visible "$GUI_ABOUT_TITLE"
    if [ "$i" -eq 1 ]; then
      memo="$(helper text "$GUI_ABOUT_TITLE" "$ID_ABOUT_MEMO")" || fail "About text unreadable"
      about_text_checks "$memo"
      # Read-only: typing into it changes nothing.
      click_control "$GUI_ABOUT_TITLE" "$ID_ABOUT_MEMO"
      xdotool type --delay 40 -- "zz"
      helper text "$GUI_MAIN_TITLE" "$ID_HOST" >/dev/null || fail "main window stopped answering"
      text_is "$GUI_ABOUT_TITLE" "$ID_ABOUT_MEMO" "$memo" || fail "the About text could be edited"
    fi
    # Odd rounds close with the button's accelerator, even ones with a
    # mouse click on the button.
    if ((i % 2)); then key alt+c; else click_control "$GUI_ABOUT_TITLE" "$ID_ABOUT_CLOSE"; fi
    wait_gone "$GUI_ABOUT_TITLE"
  done
  poll "$GUI_WAIT" owned_is "$before" ||
    fail "program owns $(helper owned "$GUI_MAIN_TITLE") top-level windows after $rounds rounds, $before before"
  [ "$(about_open)" = "0" ] || fail "an About window is left behind"
  expect_log
}
owned_is() { [ "$(helper owned "$GUI_MAIN_TITLE")" = "$1" ]; }

# Alt+Q, or a click on 終了, ends the program with status 0 and its window
# goes with it.
case_exit_closes() {
  local how
  for how in key click; do
    start_app
    quit_app "$how"
    [ "$GUI_EXIT" -eq 0 ] || fail "program ended with status $GUI_EXIT ($how)"
    gone "$GUI_MAIN_TITLE" || fail "main window still there after exit ($how)"
  done
}
