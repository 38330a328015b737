# Receive cases: a file saved where the user says, a save dialog cancelled,
# an error packet from the device and a device that never answers.

# The block every receive starts with, for the port in GUI_PORT and the
# shown name given.
receive_head() {
  RECEIVE_HEAD=("--- 操作：ファイルの受信 ---"
    "Tarnwick ソケットを生成しました"
    "接続先（IPアドレス）：127.0.0.1"
    "接続先（ポート番号）：$GUI_PORT"
    "受信中...："
    "  ホスト上のファイル名：$1")
}
RECEIVE_TAIL=("Tarnwick ソケットを破棄しました" "")

# Three whole blocks and a short one: the last block boundary is crossed
# and the end is found by length.
case_receive_saved() {
  start_tftpd
  head -c $((512 * 3 + 77)) /dev/urandom >"$gui_work/server/config"
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  focus_main
  key alt+r
  type_into_file_dialog "$GUI_SAVE_TITLE" "$gui_work/local/saved.bin"
  receive_head config
  expect_log "${RECEIVE_HEAD[@]}" \
    "    →ローカルファイル名：$(win_path "$gui_work/local/saved.bin")" \
    "受信が無事完了しました" "${RECEIVE_TAIL[@]}"
  cmp "$gui_work/server/config" "$gui_work/local/saved.bin" || fail "saved file differs from the device's"

  # A second receive of an exact multiple of the block size (the device ends
  # with an empty block) replaces the saved file and appends a second block
  # under the first.
  head -c $((512 * 2)) /dev/urandom >"$gui_work/server/config"
  focus_main
  key alt+r
  type_into_file_dialog "$GUI_SAVE_TITLE" "$gui_work/local/saved.bin"
  local first=("${RECEIVE_HEAD[@]}" "    →ローカルファイル名：$(win_path "$gui_work/local/saved.bin")"
    "受信が無事完了しました" "${RECEIVE_TAIL[@]}")
  expect_log "${first[@]}" "${first[@]}"
  cmp "$gui_work/server/config" "$gui_work/local/saved.bin" || fail "replaced file differs from the device's"
}

# Cancelling the save dialog after a good transfer is not an error, and no
# file is left anywhere we can see. With a password the request names
# "config/<password>" (served here as a file in a folder), while the save
# dialog proposes the bare file name and the log shows the password only
# once masking is switched off.
case_receive_save_cancelled() {
  start_tftpd
  mkdir "$gui_work/server/config"
  printf 'hostname edge-01\r\n' >"$gui_work/server/config/s3cret"
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  set_edit "$ID_PASSWORD" "s3cret"
  focus_main
  key alt+r
  wait_visible "$GUI_SAVE_TITLE"
  poll 10 name_box_reads "$GUI_SAVE_TITLE" config || fail "save dialog does not propose \"config\""
  cancel_file_dialog "$GUI_SAVE_TITLE"
  receive_head config
  local first=("${RECEIVE_HEAD[@]}" "受信がキャンセルされました" "${RECEIVE_TAIL[@]}")
  expect_log "${first[@]}"

  set_check "$ID_MASK" 0
  focus_main
  key alt+r
  cancel_file_dialog "$GUI_SAVE_TITLE"
  receive_head config/s3cret
  expect_log "${first[@]}" "${RECEIVE_HEAD[@]}" "受信がキャンセルされました" "${RECEIVE_TAIL[@]}"
  [ -z "$(ls -A "$gui_work/local")" ] || fail "a cancelled save left files: $(ls -A "$gui_work/local")"
  [ "$(ls -A "$gui_work/app")" = "Tarnwick.exe" ] || fail "a cancelled save left files: $(ls -A "$gui_work/app")"
}

# The receive takes the file name exactly as typed: blanks around it go into
# the request, the log and the save dialog's proposal. The file is saved
# under a Japanese name, which must reach the disk as typed.
case_receive_name_as_typed() {
  start_tftpd
  printf 'interface Vlan1\r\n' >"$gui_work/server/ blank.cfg "
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  set_edit "$ID_FILE" " blank.cfg "
  focus_main
  key alt+r
  wait_visible "$GUI_SAVE_TITLE"
  poll 10 name_box_reads "$GUI_SAVE_TITLE" " blank.cfg " || fail "save dialog does not propose the name as typed"
  type_into_file_dialog "$GUI_SAVE_TITLE" "$gui_work/local/受信した設定.txt"
  receive_head " blank.cfg "
  expect_log "${RECEIVE_HEAD[@]}" "    →ローカルファイル名：$(win_path "$gui_work/local/受信した設定.txt")" \
    "受信が無事完了しました" "${RECEIVE_TAIL[@]}"
  cmp "$gui_work/server/ blank.cfg " "$gui_work/local/受信した設定.txt" || fail "saved file differs from the device's"
}

# A chosen path that cannot be created (here in /proc): the handler stops
# after the host-file line, the error reaches the program's error handler
# naming the path, and the window goes on working.
case_receive_save_fails() {
  start_tftpd
  printf 'hostname edge-01\r\n' >"$gui_work/server/config"
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  focus_main
  key alt+r
  type_into_file_dialog "$GUI_SAVE_TITLE" /proc/tarnwick-cannot-create.bin
  expect_error_report "を作成できません" /proc/tarnwick-cannot-create.bin
  receive_head config
  expect_log "${RECEIVE_HEAD[@]}"
  focus_main
  key alt+r
  type_into_file_dialog "$GUI_SAVE_TITLE" "$gui_work/local/config"
  expect_log "${RECEIVE_HEAD[@]}" "${RECEIVE_HEAD[@]}" \
    "    →ローカルファイル名：$(win_path "$gui_work/local/config")" "受信が無事完了しました" "${RECEIVE_TAIL[@]}"
  cmp "$gui_work/server/config" "$gui_work/local/config" || fail "saved file differs from the device's"
}

# The device answers with an ERROR packet: its code and text reach the log
# and no save dialog is shown.
case_receive_missing_file() {
  start_tftpd
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  set_edit "$ID_FILE" "no-such-config"
  focus_main
  key alt+r
  receive_head no-such-config
  expect_log "${RECEIVE_HEAD[@]}" "受信中に何らかのエラーが発生しました" \
    "ホストから返ってきたエラーコード：1 - File not found" "${RECEIVE_TAIL[@]}"
  gone "$GUI_SAVE_TITLE" || fail "a failed receive showed the save dialog"
}

# Nobody answers: after the engine's wait the failure carries code 0 and no
# text at all after " - ".
case_receive_silent_device() {
  start_silent_peer
  start_app
  set_edit "$ID_PORT" "$GUI_PORT"
  focus_main
  local started=$SECONDS
  key alt+r
  receive_head config
  expect_log "${RECEIVE_HEAD[@]}" "受信中に何らかのエラーが発生しました" \
    "ホストから返ってきたエラーコード：0 - " "${RECEIVE_TAIL[@]}"
  note "silent device took $((SECONDS - started)) s to give up"
  gone "$GUI_SAVE_TITLE" || fail "a failed receive showed the save dialog"
}

# The demo device of scripts/run.sh: with the window's initial values (port
# 69 when it could be had, else the port it names) the first click on
# receive fetches its sample configuration.
case_demo_device_receive() {
  local root port_file="$gui_work/demo-port"
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
  "$root/scripts/demo-device.sh" --port-file "$port_file" >"$gui_work/demo.out" 2>&1 &
  gui_demo_pid=$!
  poll 30 test -s "$port_file" || fail "demo device did not start: $(cat "$gui_work/demo.out")"
  GUI_PORT="$(cat "$port_file")"
  note "demo device on port $GUI_PORT"
  start_app
  [ "$GUI_PORT" = 69 ] || set_edit "$ID_PORT" "$GUI_PORT"
  focus_main
  key alt+r
  type_into_file_dialog "$GUI_SAVE_TITLE" "$gui_work/local/config"
  receive_head config
  expect_log "${RECEIVE_HEAD[@]}" "    →ローカルファイル名：$(win_path "$gui_work/local/config")" \
    "受信が無事完了しました" "${RECEIVE_TAIL[@]}"
  cmp "$root/demo/config" "$gui_work/local/config" || fail "saved file differs from the demo configuration"
}
