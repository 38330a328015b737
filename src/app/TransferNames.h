// The rules that turn the window's fields into the name sent to the device
// and the name written to the work log, and the one-line form of a device's
// error message. Shared by the window and tarnwick-cli; all text is
// std::string (bytes in, bytes out), so it works the same on UTF-8 and CP932.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Exception.h"

namespace tarnwick {

// A remote name that CP932 cannot carry. Sending a guessed approximation
// could reach the wrong file on the device, so the operation stops instead.
class EConvertError : public Exception {
 public:
  explicit EConvertError(std::string message) : Exception("EConvertError", std::move(message)) {}
};

enum class TransferDirection { Receive, Send };

struct NameFields {
  std::string fileName;   // as typed
  std::string password;   // as typed
  std::string delimiter;  // as typed
  bool maskPassword = true;
};

// Removes every leading and trailing byte below 33 (blanks and controls).
std::string TrimName(std::string_view text);

// The file name the rules start from: trimmed for a send, as typed for a
// receive.
std::string BaseFileName(TransferDirection direction, std::string_view typed);

// Name for the request: base name, then delimiter and password as typed
// when the password is not empty (a password of blanks counts).
std::string RemoteName(TransferDirection direction, const NameFields& fields);

// RemoteName as the CP932 bytes of the request (the fields are UTF-8).
// Raises EConvertError when a character has no CP932 form. Its message goes
// to the crash report, its log and its mail, so it names the file-name part
// only and never the password, whichever part holds the character.
std::string RemoteNameCp932(TransferDirection direction, const NameFields& fields);

// Name for the log: the base name alone while the password is masked, else
// base name + trimmed delimiter + trimmed password (even when empty).
std::string ShownName(TransferDirection direction, const NameFields& fields);

// A device's text exactly as received (CP932 bytes) with the password taken
// out BEFORE it is decoded: every "delimiter + password" and, when the
// password has at least 3 characters, every bare password becomes "***",
// each in its CP932 and its UTF-8 form, as typed and trimmed; so does a
// beginning of them (3 characters and up) that ends the text, where a
// device cut its message short. Devices echo the requested name in
// their error texts; scrubbing the bytes also catches a password whose
// characters do not survive decoding (a stray lead byte just before it, or
// characters that CP932 decodes to other code points). The one place where
// every front end (window, get/put, backup) removes a password from what a
// device sends. An empty password leaves the text alone.
std::string WithoutPasswordEcho(std::string_view deviceBytes, const NameFields& fields);

// A device's message shown as one log line: every control byte (below 32,
// and 127) becomes a space, so line breaks in it cannot split or fake log
// lines.
std::string OneLineText(std::string_view text);

// "ホストから返ってきたエラーコード：" + code + " - " + text (one line).
std::string ErrorCodeLine(std::int32_t code, std::string_view text);

}  // namespace tarnwick
