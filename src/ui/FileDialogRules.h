// What the common file dialogs remember between uses, kept apart from Win32
// so it can be tested on its own.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// The folder part of a Windows path ("C:\a\b.txt" -> "C:\a", "C:\b.txt" ->
// "C:\", "b.txt" -> ""); both separators count.
std::wstring DirectoryPart(const std::wstring& path);

// The folder a dialog opens in: the folder of the proposed name when it has
// one, else the folder of the last choice.
std::wstring StartFolder(const std::wstring& proposedName, const std::wstring& lastFolder);

// The proposed name as it is put into the dialog's buffer of `capacity`
// characters (terminator included): cut, never overflowing.
std::wstring FitToBuffer(const std::wstring& name, std::size_t capacity);

// The symbolic name of a common-dialog error code (CommDlgExtendedError),
// "CDERR_..." / "FNERR_..."; empty for a code this program does not know.
const char* CommonDialogErrorName(std::uint32_t code);

// The message of a file dialog that failed (not cancelled): the code in hex
// and, when known, its name, so a report says which failure it was.
std::string FileDialogErrorMessage(std::uint32_t code);

}  // namespace tarnwick
