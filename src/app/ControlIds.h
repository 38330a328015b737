// Dialog-item ids of the program's windows. They never change, so tools
// that drive the windows from outside (GetDlgItem, end-to-end tests) can
// rely on them. Window titles: "Tarnwick LE" (main), "ファイル送信の確認"
// (confirmation), "このアプリケーションについて" (About); the application
// window, which carries the task-bar button, is titled "Tarnwick".
#pragma once

namespace tarnwick::ids {

// Main window (TForm1). The controls are nested, so GetDlgItem only finds
// them from their direct parent:
//   form -> Panel1 -> GroupBox1 -> labels, edit boxes, check boxes
//   form -> Panel1 -> BGetFile, BPutFile, BAbout, BExit
//   form -> Panel2 -> GroupBox2 -> Log
//   form -> StatusBar1
// Every id is unique in the program, so a search of all descendants
// (EnumChildWindows + GetDlgCtrlID) finds each exactly once.
constexpr int Panel1 = 1001;
constexpr int GroupBox1 = 1002;
constexpr int Label2 = 1003;  // ホストIP
constexpr int Label3 = 1004;  // ポート番号
constexpr int Label4 = 1005;  // ファイル名
constexpr int Label1 = 1006;  // パスワード
constexpr int Label5 = 1007;  // 区切り文字
constexpr int Label6 = 1008;  // 初期値 udp/69
constexpr int TargetSystemEdit = 1010;
constexpr int TargetPortEdit = 1011;
constexpr int TargetFileEdit = 1012;
constexpr int Password = 1013;
constexpr int Delimiter = 1014;
constexpr int ckbMaskPassword = 1015;
constexpr int ckbShowConfirm = 1016;
constexpr int BGetFile = 1020;
constexpr int BPutFile = 1021;
constexpr int BAbout = 1022;
constexpr int BExit = 1023;
constexpr int Panel2 = 1030;
constexpr int GroupBox2 = 1031;
constexpr int Log = 1032;
constexpr int StatusBar1 = 1040;

// Confirmation dialog (T_FrmConfirm).
constexpr int ConfirmMemo = 1101;
constexpr int ConfirmExecute = 1102;  // 送信を実行
constexpr int ConfirmCancel = 1103;   // キャンセル

// About dialog (TAbout).
constexpr int AboutMemo = 1201;
constexpr int AboutClose = 1202;  // 閉じる(&C)

}  // namespace tarnwick::ids
