#include "ui/FileDialog.h"

#include <cderr.h>

#include <vector>

#include "ui/FileDialogRules.h"

namespace tarnwick {
namespace {
// Long enough for any path the system accepts.
constexpr std::size_t kPathCapacity = 32768;

std::vector<wchar_t> FilterBuffer(const std::wstring& filter) {
  // "a|b|c|d" becomes "a\0b\0c\0d\0\0".
  std::vector<wchar_t> out;
  if (filter.empty()) return out;
  for (wchar_t c : filter) out.push_back(c == L'|' ? L'\0' : c);
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}
static_assert(CDERR_DIALOGFAILURE == 0xFFFF && CDERR_STRUCTSIZE == 1 && CDERR_REGISTERMSGFAIL == 0x0C &&
                  FNERR_SUBCLASSFAILURE == 0x3001 && FNERR_INVALIDFILENAME == 0x3002 &&
                  FNERR_BUFFERTOOSMALL == 0x3003,
              "CommonDialogErrorName holds the values of cderr.h");
}  // namespace

EFileDialogError::EFileDialogError(DWORD code)
    : Exception("EFileDialogError", FileDialogErrorMessage(code)), code_(code) {}

bool TFileDialog::Execute(HWND owner) {
  std::vector<wchar_t> buffer(kPathCapacity, L'\0');
  std::vector<wchar_t> filterBuf = FilterBuffer(filter);
  std::wstring folder = StartFolder(fileName, initialDir);

  auto run = [&](const std::wstring& proposed) {
    std::wstring fitted = FitToBuffer(proposed, buffer.size());
    lastProposed_ = fitted;
    std::fill(buffer.begin(), buffer.end(), L'\0');
    std::copy(fitted.begin(), fitted.end(), buffer.begin());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filterBuf.empty() ? nullptr : filterBuf.data();
    ofn.nFilterIndex = static_cast<DWORD>(filterIndex);
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.Flags = options | OFN_EXPLORER;
    return Call(ofn) != FALSE;
  };

  bool chosen = run(fileName);
  DWORD error = chosen ? 0 : ExtendedError();
  // A proposed name the dialog refuses (characters a file name cannot
  // hold, say) makes it fail without showing anything; the user would
  // never get to choose. Ask again without the name.
  if (error == FNERR_INVALIDFILENAME) {
    chosen = run(L"");
    error = chosen ? 0 : ExtendedError();
  }
  // Only the user's cancel leaves no error code.
  if (error != 0) throw EFileDialogError(error);
  if (!chosen) return false;
  fileName.assign(buffer.data());
  initialDir = DirectoryPart(fileName);
  return true;
}

DWORD TFileDialog::ExtendedError() const { return ::CommDlgExtendedError(); }

BOOL TOpenDialog::Call(OPENFILENAMEW& ofn) { return ::GetOpenFileNameW(&ofn); }

BOOL TSaveDialog::Call(OPENFILENAMEW& ofn) {
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  return ::GetSaveFileNameW(&ofn);
}

}  // namespace tarnwick
