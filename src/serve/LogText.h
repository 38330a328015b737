// Bytes from the wire (requested names, reasons quoting them) made safe for
// a log: nothing a client sends can start a new line, move the cursor, or
// reorder what a reader sees with bidirectional controls, and the JSON form
// is valid whatever the bytes.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick::serve {

// For the human line: valid UTF-8 is kept; '\' and '"' are escaped; control
// bytes and bytes that are not UTF-8 become \xHH; C1 controls, bidi
// controls, invisible formatters and line separators become \uXXXX.
std::string ShownText(std::string_view bytes);

// A JSON string literal (quotes included): the same characters escaped as
// \uXXXX, invalid UTF-8 replaced by U+FFFD.
std::string JsonText(std::string_view bytes);

}  // namespace tarnwick::serve
