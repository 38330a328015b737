// The reporter's files on Windows: the options block at the end of the
// executable, the log beside it and the settings file with the pending-mail
// flag. Failures to read or write them never raise: reads yield defaults.
#pragma once

#include <optional>
#include <string>

#include "crash/CrashOptions.h"

namespace tarnwick {

std::wstring ProgramPath();

// The log or settings file of a module, built from its wide path so that a
// folder name outside the system code page still leads to the right file.
std::wstring SideFile(const std::wstring& modulePath, const std::wstring& suffix,
                      const std::string& logFolder = {});

// The options block of a module's file (for a ".BPL" file, its side file
// ending in "cpu"), opened shared for reading. Nothing when absent.
std::optional<CrashOptions> LoadOptions(const std::wstring& modulePath);

// Applies the log rules and writes the entry. False when the entry was a
// repeat and nothing was written.
bool AppendLogEntry(const std::wstring& logPath, const std::string& entry, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& options);

// The pending-mail flag: [State] "Send errors" in the settings file.
int ReadPendingMailFlag();
void WritePendingMailFlag(int value);

}  // namespace tarnwick
