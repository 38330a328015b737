#include "tftp/TftpOptions.h"

#include "tftp/TftpPacket.h"

namespace tarnwick::tftp {

namespace {

constexpr OptionRule kTable[kOptionCount] = {
    {OptionId::BlockSize, "blksize", 8, 65464, AnswerRule::AtMostAsked},
    {OptionId::TransferSize, "tsize", 0, UINT64_MAX, AnswerRule::AnyNumber},
    {OptionId::Timeout, "timeout", 1, 255, AnswerRule::SameAsAsked},
    {OptionId::WindowSize, "windowsize", 1, 65535, AnswerRule::AtMostAsked},
};

std::size_t IndexOf(OptionId id) { return static_cast<std::size_t>(id); }

bool SameNameIgnoringCase(std::string_view a, const char* lower) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (lower[i] == '\0') return false;
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return lower[i] == '\0';
}

void PutNumber(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

std::string Printable(std::string_view text) {
  std::string shown;
  for (char c : text.substr(0, 32)) {
    const auto b = static_cast<unsigned char>(c);
    shown += (b < 32 || b >= 127) ? '?' : c;
  }
  return shown;
}

}  // namespace

const OptionRule* OptionTable() { return kTable; }
const OptionRule& RuleOf(OptionId id) { return kTable[IndexOf(id)]; }

bool OptionAsk::Any() const {
  for (bool a : asked)
    if (a) return true;
  return false;
}

OptionAsk AskedOptions(const TransferRequest& request, std::uint64_t sourceSize, std::string& reason) {
  OptionAsk ask;
  reason.clear();
  auto set = [&](OptionId id, std::uint64_t value) {
    const OptionRule& rule = RuleOf(id);
    if (value < rule.min || value > rule.max) {
      reason = std::string(rule.name) + " " + std::to_string(value) + " is outside " +
               std::to_string(rule.min) + ".." + std::to_string(rule.max);
      return;
    }
    ask.asked[IndexOf(id)] = true;
    ask.value[IndexOf(id)] = value;
  };
  if (request.blockSize) set(OptionId::BlockSize, *request.blockSize);
  if (request.transferSize) set(OptionId::TransferSize, request.kind == TransferKind::Put ? sourceSize : 0);
  if (request.timeoutSeconds) set(OptionId::Timeout, *request.timeoutSeconds);
  if (request.windowSize) set(OptionId::WindowSize, *request.windowSize);
  return ask;
}

void BuildOptionRequest(std::string& out, std::uint16_t opcode, std::string_view remoteName,
                        const OptionAsk& ask) {
  out.clear();
  PutNumber(out, opcode);
  out.append(remoteName);
  out += '\0';
  out.append(kMode, sizeof kMode);
  for (const OptionRule& rule : kTable) {
    if (!ask.asked[IndexOf(rule.id)]) continue;
    out.append(rule.name);
    out += '\0';
    out.append(std::to_string(ask.value[IndexOf(rule.id)]));
    out += '\0';
  }
}

bool ParseDecimal(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

bool AcceptOack(std::string_view packet, const OptionAsk& ask, TransferKind kind, AgreedOptions& agreed,
                std::string& reason) {
  AgreedOptions result;
  result.negotiated = true;
  bool seen[kOptionCount] = {};
  reason.clear();
  const bool wellFormed = ForEachOackPair(packet, [&](std::string_view name, std::string_view text) {
    if (!reason.empty()) return;
    const OptionRule* rule = nullptr;
    for (const OptionRule& r : kTable)
      if (SameNameIgnoringCase(name, r.name)) rule = &r;
    if (!rule || !ask.asked[IndexOf(rule->id)]) {
      reason = "the server's OACK names \"" + Printable(name) + "\", which was not asked for";
      return;
    }
    const std::size_t i = IndexOf(rule->id);
    if (seen[i]) {
      reason = std::string("the server's OACK names ") + rule->name + " twice";
      return;
    }
    seen[i] = true;
    std::uint64_t value = 0;
    const bool number = ParseDecimal(text, value);
    if (rule->answer == AnswerRule::AnyNumber) {
      // On a put the server only echoes the size we sent; we keep ours.
      if (kind == TransferKind::Put) {
        result.transferSize = ask.value[i];
        return;
      }
      if (!number) {
        reason = "the server's tsize \"" + Printable(text) + "\" is not a number";
        return;
      }
      result.transferSize = value;
      return;
    }
    const bool fits =
        number && value >= rule->min &&
        (rule->answer == AnswerRule::AtMostAsked ? value <= ask.value[i] : value == ask.value[i]);
    if (!fits) {
      reason = std::string("the server's ") + rule->name + " \"" + Printable(text) + "\" does not fit the " +
               std::to_string(ask.value[i]) + " asked for";
      return;
    }
    switch (rule->id) {
      case OptionId::BlockSize:
        result.blockSize = static_cast<std::uint32_t>(value);
        break;
      case OptionId::WindowSize:
        result.windowSize = static_cast<std::uint32_t>(value);
        break;
      case OptionId::Timeout:
        result.timeoutSeconds = static_cast<std::uint32_t>(value);
        break;
      case OptionId::TransferSize:
        break;
    }
  });
  if (!wellFormed) {
    reason = "the server's OACK is malformed (a string without its zero byte)";
    return false;
  }
  if (!reason.empty()) return false;
  agreed = result;
  return true;
}

void BuildErrorPacket(std::string& out, std::uint16_t code, std::string_view text) {
  out.clear();
  PutNumber(out, kError);
  PutNumber(out, code);
  out.append(text);
  out += '\0';
}

}  // namespace tarnwick::tftp
