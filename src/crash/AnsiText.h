// Conversions between the report's bytes (the system code page, as the log
// file keeps them), UTF-8 messages and the wide strings Windows shows.
#pragma once

#include <string>

namespace tarnwick {

std::wstring AnsiToWide(const std::string& ansi);
std::string WideToAnsi(const std::wstring& wide);
std::string Utf8ToAnsi(const std::string& utf8);

}  // namespace tarnwick
