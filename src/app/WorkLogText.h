// The texts of the work log, shared by the window and tarnwick-cli so both
// write exactly the same lines (UTF-8). Each message is one line; a value
// follows the texts that end in "："; an operation's block ends with an
// empty line.
#pragma once

namespace tarnwick::worklog {

inline constexpr char kReceiveHeader[] = "--- 操作：ファイルの受信 ---";
inline constexpr char kSendHeader[] = "--- 操作：ファイルの送信 ---";
inline constexpr char kEngineCreated[] = "Tarnwick ソケットを生成しました";
inline constexpr char kHostLine[] = "接続先（IPアドレス）：";  // + host text
inline constexpr char kPortLine[] = "接続先（ポート番号）：";  // + port text
inline constexpr char kReceiving[] = "受信中...：";
inline constexpr char kReceiveRemoteName[] = "  ホスト上のファイル名：";  // + shown name
inline constexpr char kReceiveLocalName[] = "    →ローカルファイル名：";  // + saved path
inline constexpr char kReceiveDone[] = "受信が無事完了しました";
inline constexpr char kReceiveCancelled[] = "受信がキャンセルされました";
inline constexpr char kReceiveFailed[] = "受信中に何らかのエラーが発生しました";
inline constexpr char kSending[] = "送信中...：";
inline constexpr char kSendLocalName[] = "  ローカルファイル名：";        // + chosen path
inline constexpr char kSendRemoteName[] = "    →ホスト上のファイル名：";  // + shown name
inline constexpr char kSendDone[] = "送信が無事完了しました";
inline constexpr char kSendFailed[] = "送信中に何らかのエラーが発生しました";
inline constexpr char kErrorCodeLine[] = "ホストから返ってきたエラーコード：";  // + code + " - " + text
inline constexpr char kErrorCodeSeparator[] = " - ";
inline constexpr char kSendDeclined[] = "送信処理がキャンセルされました";
inline constexpr char kOpenCancelled[] = "処理がキャンセルされました";
inline constexpr char kEngineReleased[] = "Tarnwick ソケットを破棄しました";

}  // namespace tarnwick::worklog
