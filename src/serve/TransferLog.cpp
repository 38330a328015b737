#include "serve/TransferLog.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "serve/LogText.h"

namespace tarnwick::serve {

namespace {

// A duration as JSON and people read it: never "nan" or "inf", never negative.
std::string Seconds(double value) {
  if (!std::isfinite(value) || value < 0.0) value = 0.0;
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

const char* Direction(RequestKind kind) { return kind == RequestKind::Read ? "read" : "write"; }
const char* Mode(TransferMode mode) { return mode == TransferMode::Octet ? "octet" : "netascii"; }

}  // namespace

std::int64_t UnixMsNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string UtcTimestamp(std::int64_t unixMs) {
  std::int64_t days = unixMs / 86400000;
  std::int64_t ms = unixMs % 86400000;
  if (ms < 0) {
    ms += 86400000;
    --days;
  }
  // Days since 1970-01-01 to a proleptic Gregorian date, in 400-year eras.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

std::string FormatHumanLine(const TransferRecord& r) {
  std::string line = UtcTimestamp(r.unixMs) + " " + ShownText(r.client) + " " + Direction(r.direction) +
                     " \"" + ShownText(r.file) + "\" " + ShownText(r.result) + " " + std::to_string(r.bytes) +
                     " bytes in " + Seconds(r.seconds) + " s (" + Mode(r.mode) + ", blksize " +
                     std::to_string(r.options.blockSize) + ", windowsize " +
                     std::to_string(r.options.windowSize);
  if (r.options.transferSize) line += ", tsize " + std::to_string(*r.options.transferSize);
  if (r.options.timeoutSeconds) line += ", timeout " + std::to_string(*r.options.timeoutSeconds);
  line += ") " + std::to_string(r.retransmissions) + " retransmissions";
  if (!r.reason.empty()) line += ": " + ShownText(r.reason);
  return line + "\n";
}

std::string FormatJsonLine(const TransferRecord& r) {
  const auto optional = [](const auto& value) {
    return value ? std::to_string(*value) : std::string("null");
  };
  std::string out = "{\"time\":" + JsonText(UtcTimestamp(r.unixMs));
  out += ",\"client\":" + JsonText(r.client);
  out += ",\"file\":" + JsonText(r.file);
  out += ",\"direction\":\"" + std::string(Direction(r.direction)) + "\"";
  out += ",\"mode\":\"" + std::string(Mode(r.mode)) + "\"";
  out += ",\"bytes\":" + std::to_string(r.bytes);
  out += ",\"seconds\":" + Seconds(r.seconds);
  out += ",\"options\":{\"negotiated\":" + std::string(r.options.negotiated ? "true" : "false");
  out += ",\"blksize\":" + std::to_string(r.options.blockSize);
  out += ",\"windowsize\":" + std::to_string(r.options.windowSize);
  out += ",\"tsize\":" + optional(r.options.transferSize);
  out += ",\"timeout\":" + optional(r.options.timeoutSeconds) + "}";
  out += ",\"retransmissions\":" + std::to_string(r.retransmissions);
  out += ",\"result\":" + JsonText(r.result);
  out += ",\"reason\":" + JsonText(r.reason);
  return out + "}\n";
}

std::string FormatHumanLine(const ArchiveRecord& r) {
  std::string line = UtcTimestamp(r.unixMs) + " archive ";
  if (!r.device.empty()) line += ShownText(r.device) + " pushed from " + ShownText(r.from) + " ";
  line += ShownText(r.result);
  if (!r.history.empty()) line += ", previous copy in " + ShownText(r.history);
  if (!r.commit.empty()) line += " " + ShownText(r.commit);
  if (!r.reason.empty()) line += ": " + ShownText(r.reason);
  return line + "\n";
}

std::string FormatJsonLine(const ArchiveRecord& r) {
  std::string out = "{\"time\":" + JsonText(UtcTimestamp(r.unixMs)) + ",\"event\":\"archive\"";
  out += ",\"device\":" + JsonText(r.device);
  out += ",\"from\":" + JsonText(r.from);
  out += ",\"result\":" + JsonText(r.result);
  out += ",\"history\":" + JsonText(r.history);
  out += ",\"commit\":" + JsonText(r.commit);
  out += ",\"reason\":" + JsonText(r.reason);
  return out + "}\n";
}

}  // namespace tarnwick::serve
