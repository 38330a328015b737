#include "serve/RequestName.h"

#include <cstring>

namespace tarnwick::serve {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsUpper(std::string_view text, const char* upper) {
  if (text.size() != std::strlen(upper)) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (Upper(text[i]) != upper[i]) return false;
  return true;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9: Windows opens the device whatever
// extension follows and whatever dots or blanks trail the name.
bool IsWindowsDevice(std::string_view part) {
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.remove_suffix(1);
  if (EqualsUpper(base, "CON") || EqualsUpper(base, "PRN") || EqualsUpper(base, "AUX") ||
      EqualsUpper(base, "NUL") || EqualsUpper(base, "CONIN$") || EqualsUpper(base, "CONOUT$"))
    return true;
  if (base.size() == 4 && (EqualsUpper(base.substr(0, 3), "COM") || EqualsUpper(base.substr(0, 3), "LPT")))
    return base[3] >= '1' && base[3] <= '9';
  return false;
}

Refusal CheckComponent(std::string_view part, bool windowsRules) {
  if (part.empty()) return Refuse(kErrorAccess, "empty path component");
  if (part == "." || part == "..") return Refuse(kErrorAccess, "'.' or '..' component");
  if (part.size() > kMaxComponentBytes) return Refuse(kErrorAccess, "path component over 255 bytes");
  for (char c : part) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f) return Refuse(kErrorAccess, "control character in name");
  }
  if (part.compare(0, std::strlen(kServeTempPrefix), kServeTempPrefix) == 0)
    return Refuse(kErrorAccess, "name of a temporary file of the server");
  if (!windowsRules) return {};
  if (part.find(':') != std::string_view::npos)
    return Refuse(kErrorAccess, "':' in name (drive or alternate data stream)");
  if (part.find_first_of("<>\"|?*") != std::string_view::npos)
    return Refuse(kErrorAccess, "wildcard or reserved character in name");
  if (part.back() == '.' || part.back() == ' ')
    return Refuse(kErrorAccess, "name ends in a dot or blank (Windows would trim it)");
  if (IsWindowsDevice(part)) return Refuse(kErrorAccess, "reserved device name");
  return {};
}

}  // namespace

RequestName SplitRequestName(std::string_view wire, bool windowsRules) {
  RequestName out;
  if (wire.empty()) {
    out.refusal = Refuse(kErrorNotFound, "empty file name");
    return out;
  }
  if (wire.size() > kMaxNameBytes) {
    out.refusal = Refuse(kErrorAccess, "name over 1024 bytes");
    return out;
  }
  if (windowsRules && wire.size() >= 2 && IsSeparator(wire[0]) && IsSeparator(wire[1])) {
    out.refusal = Refuse(kErrorAccess, "UNC or \\\\?\\ / \\\\.\\ device path");
    return out;
  }
  std::size_t at = IsSeparator(wire[0]) ? 1 : 0;  // a leading separator means ROOT
  for (;;) {
    std::size_t end = at;
    while (end < wire.size() && !IsSeparator(wire[end])) ++end;
    const std::string_view part = wire.substr(at, end - at);
    out.refusal = CheckComponent(part, windowsRules);
    if (out.refusal.Refused() || out.parts.size() == kMaxDepth) {
      if (!out.refusal.Refused()) out.refusal = Refuse(kErrorAccess, "more than 32 path components");
      out.parts.clear();
      return out;
    }
    out.parts.emplace_back(part);
    if (end == wire.size()) return out;
    at = end + 1;
  }
}

const char* ClientText(std::uint16_t code) {
  switch (code) {
    case kErrorNotFound:
      return "File not found";
    case kErrorAccess:
      return "Access violation";
    case kErrorDiskFull:
      return "Disk full or allocation exceeded";
    case kErrorIllegal:
      return "Illegal TFTP operation";
    case kErrorUnknownTid:
      return "Unknown transfer ID";
    case kErrorExists:
      return "File already exists";
    case kErrorNoUser:
      return "No such user";
    case kErrorOptions:
      return "Option negotiation refused";
    default:
      return "Transfer refused";
  }
}

}  // namespace tarnwick::serve
