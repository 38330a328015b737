#include "serve/ServerRequest.h"

#include <algorithm>

#include "tftp/TftpPacket.h"

namespace tarnwick::serve {

namespace {

using tftp::OptionId;

bool SameLetters(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// The zero-terminated string at `at`; false when no zero byte ends it.
bool NextString(std::string_view packet, std::size_t& at, std::string_view& out) {
  if (at > packet.size()) return false;
  const std::size_t end = packet.find('\0', at);
  if (end == std::string_view::npos) return false;
  out = packet.substr(at, end - at);
  at = end + 1;
  return true;
}

// A value the server can act on, brought into the option's range where the
// RFC lets the server lower it; false when the option is to be ignored.
bool UsableValue(OptionId id, std::string_view text, std::uint64_t& value) {
  if (!tftp::ParseDecimal(text, value)) return false;
  const tftp::OptionRule& rule = tftp::RuleOf(id);
  if (value < rule.min) return false;
  if (value > rule.max) {
    if (id != OptionId::BlockSize) return false;
    value = rule.max;  // a client asking more than 65464 gets the most there is
  }
  return true;
}

void PutPair(std::string& out, const char* name, std::uint64_t value) {
  out += name;
  out += '\0';
  out += std::to_string(value);
  out += '\0';
}

}  // namespace

ServerRequest ParseServerRequest(std::string_view datagram) {
  ServerRequest r;
  const std::uint16_t opcode = tftp::ReadOpcode(datagram);
  if (datagram.size() < 2 || (opcode != tftp::kRrq && opcode != tftp::kWrq)) {
    r.refusal = Refuse(kErrorIllegal, "not a request (" + std::to_string(datagram.size()) +
                                          " bytes, opcode " + std::to_string(opcode) + ")");
    return r;  // dropped
  }
  r.verdict = RequestVerdict::Refuse;
  r.kind = opcode == tftp::kRrq ? RequestKind::Read : RequestKind::Write;
  std::size_t at = 2;
  std::string_view name, mode;
  if (!NextString(datagram, at, name)) {
    r.refusal = Refuse(kErrorIllegal, "file name not terminated");
    return r;
  }
  if (!NextString(datagram, at, mode)) {
    r.refusal = Refuse(kErrorIllegal, "mode not terminated");
    return r;
  }
  r.name.assign(name);
  if (SameLetters(mode, "octet")) {
    r.mode = TransferMode::Octet;
  } else if (SameLetters(mode, "netascii")) {
    r.mode = TransferMode::Netascii;
  } else {
    r.refusal = Refuse(kErrorIllegal, SameLetters(mode, "mail") ? "mail mode is not served" : "unknown mode");
    return r;
  }
  r.verdict = RequestVerdict::Serve;
  // Options: pairs after the mode. A broken last pair (some clients pad the
  // request) and everything past the limit are ignored, not refused.
  bool seen[tftp::kOptionCount] = {};
  for (std::size_t pairs = 0; at < datagram.size(); ++pairs) {
    std::string_view option, value;
    if (!NextString(datagram, at, option) || !NextString(datagram, at, value) || pairs == kMaxOptionPairs) {
      ++r.ignoredOptions;
      break;
    }
    bool known = false;
    for (std::size_t i = 0; i < tftp::kOptionCount; ++i) {
      const tftp::OptionRule& rule = tftp::OptionTable()[i];
      const auto index = static_cast<std::size_t>(rule.id);
      if (!SameLetters(option, rule.name)) continue;
      // The first of a repeated option decides, usable or not.
      if (!seen[index]) r.asked.asked[index] = known = UsableValue(rule.id, value, r.asked.value[index]);
      seen[index] = true;
      break;
    }
    if (!known) ++r.ignoredOptions;
  }
  return r;
}

OptionAnswer AnswerOptions(const ServerRequest& request, const ServerCaps& caps,
                           std::optional<std::uint64_t> fileSize) {
  OptionAnswer a;
  const auto asked = [&](OptionId id) { return request.asked.asked[static_cast<std::size_t>(id)]; };
  const auto value = [&](OptionId id) { return request.asked.value[static_cast<std::size_t>(id)]; };
  std::string pairs;
  for (std::size_t i = 0; i < tftp::kOptionCount; ++i) {
    const tftp::OptionRule& rule = tftp::OptionTable()[i];
    if (!asked(rule.id)) continue;
    switch (rule.id) {
      case OptionId::BlockSize: {
        const std::uint64_t cap = std::max<std::uint64_t>(caps.maxBlockSize, rule.min);
        a.agreed.blockSize = static_cast<std::uint32_t>(std::min(value(rule.id), cap));
        PutPair(pairs, rule.name, a.agreed.blockSize);
        break;
      }
      case OptionId::WindowSize:
        break;  // after the block size, which bounds it; see below
      case OptionId::Timeout:
        a.agreed.timeoutSeconds = static_cast<std::uint32_t>(value(rule.id));
        PutPair(pairs, rule.name, value(rule.id));
        break;
      case OptionId::TransferSize:
        // A read in netascii: the size after conversion is unknown until it
        // is sent, so no size is promised.
        if (request.kind == RequestKind::Write) {
          a.agreed.transferSize = value(rule.id);
        } else if (fileSize && request.mode == TransferMode::Octet) {
          a.agreed.transferSize = *fileSize;
        } else {
          break;
        }
        PutPair(pairs, rule.name, *a.agreed.transferSize);
        break;
    }
  }
  if (asked(OptionId::WindowSize)) {
    const std::uint64_t byBytes = std::max<std::uint64_t>(1, caps.maxWindowBytes / a.agreed.blockSize);
    const std::uint64_t cap =
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(caps.maxWindowSize, byBytes));
    a.agreed.windowSize = static_cast<std::uint32_t>(std::min(value(OptionId::WindowSize), cap));
    PutPair(pairs, tftp::RuleOf(OptionId::WindowSize).name, a.agreed.windowSize);
  }
  if (!pairs.empty()) {
    a.oack.assign({'\0', static_cast<char>(tftp::kOack)});
    a.oack += pairs;
    a.agreed.negotiated = true;
  }
  return a;
}

}  // namespace tarnwick::serve
