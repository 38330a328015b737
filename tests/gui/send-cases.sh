# Send cases: the confirmation declined, the open dialog cancelled, a file
# that reaches the device whole, and a local file that does not exist.

send_head() {  # send_head <local unix path> <shown name>
  SEND_HEAD=("--- 操作：ファイルの送信 ---"
    "Tarnwick ソケットを生成しました"
    "接続先（IPアドレス）：127.0.0.1"
    "接続先（ポート番号）：$GUI_PORT"
    "送信中...："
    "  ローカルファイル名：$(win_path "$1")"
    "    →ホスト上のファイル名：$2")
}

CONFIRM_TEXT=("*** 重要 ***"
  "接続先の機種によっては、ファイル名が違っていた場合にエラー"
  "を返し、処理を中断してくれるものもありますが、そうではないもの"
  "もあります。ファイル名が正しくない場合に、機器等が故障する可"
  "能性も否めませんので、送信するファイル名が正しいかどうか、マ"
  "ニュアル等でよくご確認の上送信してください。")

confirm_text_reads() {
  local got want
  got="$(helper text "$GUI_CONFIRM_TITLE" "$ID_CONFIRM_MEMO" | tr -d '\r')" || return 1
  want="$(printf '%s\n' "${CONFIRM_TEXT[@]}")"
  [ "$got" = "$want" ]
}

# With the "do not confirm" box clear (the start state) a send asks first;
# declining writes the header and one line, not even an empty line. Closing
# the dialog from its system menu (Alt+F4, the title-bar close) declines too.
case_send_confirmation_declined() {
  start_tftpd
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  focus_main
  key alt+s
  wait_visible "$GUI_CONFIRM_TITLE"
  confirm_text_reads || fail "confirmation text differs: $(helper text "$GUI_CONFIRM_TITLE" "$ID_CONFIRM_MEMO")"
  text_is "$GUI_CONFIRM_TITLE" "$ID_CONFIRM_EXECUTE" "送信を実行" || fail "confirmation has no 送信を実行 button"
  text_is "$GUI_CONFIRM_TITLE" "$ID_CONFIRM_CANCEL" "キャンセル" || fail "confirmation has no キャンセル button"
  click_control "$GUI_CONFIRM_TITLE" "$ID_CONFIRM_CANCEL"
  wait_gone "$GUI_CONFIRM_TITLE"
  local declined=("--- 操作：ファイルの送信 ---" "送信処理がキャンセルされました")
  expect_log "${declined[@]}"
  gone "$GUI_OPEN_TITLE" || fail "the open dialog came after a declined confirmation"

  focus_main
  key alt+s
  wait_visible "$GUI_CONFIRM_TITLE"
  key alt+F4
  wait_gone "$GUI_CONFIRM_TITLE"
  expect_log "${declined[@]}" "${declined[@]}"
  gone "$GUI_OPEN_TITLE" || fail "the open dialog came after the confirmation was closed"
  [ -z "$(ls -A "$gui_work/server")" ] || fail "something reached the device"
}

# Confirmed, then the open dialog cancelled: three lines, the last empty.
case_send_open_cancelled() {
  start_tftpd
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  focus_main
  key alt+s
  wait_visible "$GUI_CONFIRM_TITLE"
  click_control "$GUI_CONFIRM_TITLE" "$ID_CONFIRM_EXECUTE"
  wait_gone "$GUI_CONFIRM_TITLE"
  cancel_file_dialog "$GUI_OPEN_TITLE"
  expect_log "--- 操作：ファイルの送信 ---" "処理がキャンセルされました" ""
  [ -z "$(ls -A "$gui_work/server")" ] || fail "something reached the device"
}

# Confirmation switched off, a name typed with blanks around it (sent and
# shown trimmed), two whole blocks so the device needs the closing empty
# block. Then an empty file, which is one empty block.
case_send_succeeds() {
  start_tftpd
  head -c $((512 * 2)) /dev/urandom >"$gui_work/local/upload.bin"
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  set_edit "$ID_FILE" "  router-a.cfg "
  set_check "$ID_NO_CONFIRM" 1
  focus_main
  key alt+s
  type_into_file_dialog "$GUI_OPEN_TITLE" "$gui_work/local/upload.bin"
  send_head "$gui_work/local/upload.bin" router-a.cfg
  local first=("${SEND_HEAD[@]}" "送信が無事完了しました" "Tarnwick ソケットを破棄しました" "")
  expect_log "${first[@]}"
  gone "$GUI_CONFIRM_TITLE" || fail "confirmation shown although switched off"
  cmp "$gui_work/local/upload.bin" "$gui_work/server/router-a.cfg" || fail "device got other bytes"

  : >"$gui_work/local/empty.bin"
  set_edit "$ID_FILE" "empty.cfg"
  focus_main
  key alt+s
  type_into_file_dialog "$GUI_OPEN_TITLE" "$gui_work/local/empty.bin"
  send_head "$gui_work/local/empty.bin" empty.cfg
  expect_log "${first[@]}" "${SEND_HEAD[@]}" "送信が無事完了しました" "Tarnwick ソケットを破棄しました" ""
  [ -f "$gui_work/server/empty.cfg" ] && [ ! -s "$gui_work/server/empty.cfg" ] ||
    fail "empty file did not arrive as an empty file"
}

# The request joins trimmed name, delimiter as typed and password as typed;
# the log, with masking off, shows the trimmed delimiter and password, and
# with masking on only the name.
case_send_with_password() {
  start_tftpd
  printf 'snmp-server community lab RO\r\n' >"$gui_work/local/part.cfg"
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  set_edit "$ID_FILE" " up.cfg"
  set_edit "$ID_DELIMITER" " # "
  set_edit "$ID_PASSWORD" "p w "
  set_check "$ID_NO_CONFIRM" 1
  set_check "$ID_MASK" 0
  focus_main
  key alt+s
  type_into_file_dialog "$GUI_OPEN_TITLE" "$gui_work/local/part.cfg"
  send_head "$gui_work/local/part.cfg" "up.cfg#p w"
  local first=("${SEND_HEAD[@]}" "送信が無事完了しました" "Tarnwick ソケットを破棄しました" "")
  expect_log "${first[@]}"
  cmp "$gui_work/local/part.cfg" "$gui_work/server/up.cfg # p w " || fail "device did not get \"up.cfg # p w \""

  set_check "$ID_MASK" 1
  set_edit "$ID_DELIMITER" ""
  focus_main
  key alt+s
  type_into_file_dialog "$GUI_OPEN_TITLE" "$gui_work/local/part.cfg"
  send_head "$gui_work/local/part.cfg" "up.cfg"
  expect_log "${first[@]}" "${SEND_HEAD[@]}" "送信が無事完了しました" "Tarnwick ソケットを破棄しました" ""
  cmp "$gui_work/local/part.cfg" "$gui_work/server/up.cfgp w " || fail "device did not get \"up.cfgp w \""
}

# A name the open dialog accepts but that cannot be loaded: the handler
# stops after the host-file line, the error reaches the program's error
# handler (its dialog or its log file shows the message), and the window
# goes on working.
case_send_missing_local_file() {
  start_tftpd
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  set_check "$ID_NO_CONFIRM" 1
  focus_main
  key alt+s
  type_into_file_dialog "$GUI_OPEN_TITLE" "$gui_work/local/missing.bin"
  expect_error_report "は開けません" "$gui_work/local/missing.bin"
  send_head "$gui_work/local/missing.bin" config
  expect_log "${SEND_HEAD[@]}"
  [ -z "$(ls -A "$gui_work/server")" ] || fail "something reached the device"
  # Still usable: the next operation runs and logs a fresh block.
  focus_main
  key alt+s
  cancel_file_dialog "$GUI_OPEN_TITLE"
  expect_log "${SEND_HEAD[@]}" "--- 操作：ファイルの送信 ---" "処理がキャンセルされました" ""
}
