#include "cli/JsonReport.h"

#include <cstdio>

#include "base/TextCodec.h"

namespace tarnwick::cli {

std::string JsonString(std::string_view utf8) {
  // Round trip through UTF-16 replaces every invalid sequence with U+FFFD.
  const std::string clean = Utf16ToUtf8(Utf8ToUtf16(utf8));
  std::string out = "\"";
  for (unsigned char c : clean) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

namespace {

std::string Number(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

JsonReport ShortReport(std::string command, std::string result, std::string reason) {
  JsonReport r;
  r.command = std::move(command);
  r.result = std::move(result);
  r.reason = std::move(reason);
  return r;
}

std::string FormatJsonReport(const JsonReport& r) {
  const double rate = r.seconds > 0.0 ? static_cast<double>(r.bytes) / r.seconds : 0.0;
  std::string out = "{";
  out += "\"command\":" + JsonString(r.command);
  out += ",\"result\":" + JsonString(r.result);
  out += ",\"remote\":" + JsonString(r.remote);
  out += ",\"local\":" + JsonString(r.local);
  out += ",\"server\":" + JsonString(r.server);
  out += ",\"bytes\":" + std::to_string(r.bytes);
  out += ",\"seconds\":" + Number(r.seconds);
  out += ",\"bytes_per_second\":" + Number(rate);
  out += ",\"options\":{\"negotiated\":" + std::string(r.negotiated ? "true" : "false");
  out += ",\"blksize\":" + std::to_string(r.blockSize);
  out += ",\"windowsize\":" + std::to_string(r.windowSize);
  out += ",\"tsize\":" + (r.transferSize ? std::to_string(*r.transferSize) : std::string("null"));
  out += ",\"timeout\":" + (r.timeoutSeconds ? std::to_string(*r.timeoutSeconds) : std::string("null"));
  out += "}";
  out += ",\"retransmissions\":" + std::to_string(r.retransmissions);
  out += ",\"device_error\":";
  if (r.errorCode >= 0)
    out += "{\"code\":" + std::to_string(r.errorCode) + ",\"text\":" + JsonString(r.errorText) + "}";
  else
    out += "null";
  out += ",\"reason\":" + JsonString(r.reason);
  return out + "}\n";
}

}  // namespace tarnwick::cli
