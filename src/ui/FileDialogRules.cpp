#include "ui/FileDialogRules.h"

#include <cstdio>

namespace tarnwick {

std::wstring DirectoryPart(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    // "C:name" is relative to the drive; its folder is the drive itself.
    if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
    return L"";
  }
  // Keep the separator of a root ("C:\", "\") so it still names a folder.
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::wstring StartFolder(const std::wstring& proposedName, const std::wstring& lastFolder) {
  std::wstring own = DirectoryPart(proposedName);
  return own.empty() ? lastFolder : own;
}

std::wstring FitToBuffer(const std::wstring& name, std::size_t capacity) {
  if (capacity == 0) return L"";
  return name.size() < capacity ? name : name.substr(0, capacity - 1);
}

const char* CommonDialogErrorName(std::uint32_t code) {
  // The values of cderr.h; the Windows build checks them against it.
  struct Entry {
    std::uint32_t code;
    const char* name;
  };
  static const Entry kNames[] = {
      {0xFFFF, "CDERR_DIALOGFAILURE"},   {0x0001, "CDERR_STRUCTSIZE"},      {0x0002, "CDERR_INITIALIZATION"},
      {0x0003, "CDERR_NOTEMPLATE"},      {0x0004, "CDERR_NOHINSTANCE"},     {0x0005, "CDERR_LOADSTRFAILURE"},
      {0x0006, "CDERR_FINDRESFAILURE"},  {0x0007, "CDERR_LOADRESFAILURE"},  {0x0008, "CDERR_LOCKRESFAILURE"},
      {0x0009, "CDERR_MEMALLOCFAILURE"}, {0x000A, "CDERR_MEMLOCKFAILURE"},  {0x000B, "CDERR_NOHOOK"},
      {0x000C, "CDERR_REGISTERMSGFAIL"}, {0x3001, "FNERR_SUBCLASSFAILURE"}, {0x3002, "FNERR_INVALIDFILENAME"},
      {0x3003, "FNERR_BUFFERTOOSMALL"},
  };
  for (const Entry& e : kNames)
    if (e.code == code) return e.name;
  return "";
}

std::string FileDialogErrorMessage(std::uint32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(code));
  std::string message = "ファイルダイアログを表示できません（CommDlgExtendedError ";
  message += hex;
  const char* name = CommonDialogErrorName(code);
  if (*name != '\0') {
    message += ' ';
    message += name;
  }
  message += "）";
  return message;
}

}  // namespace tarnwick
