#include "ui/FileDialogRules.h"

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

}  // namespace tarnwick
