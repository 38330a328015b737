// The crash reporter's options: texts, output and mail settings and the
// line tables, read from a block appended to the end of the executable so
// that they can be changed without recompiling the program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

inline constexpr std::uint32_t kOptionsMagic = 0x000FAB10;
inline constexpr std::uint16_t kOptionsFormatVersion = 301;
// Positions in the line tables are compared in 16 bits, so a stream of this
// size or more cannot be resolved correctly and is not used.
inline constexpr std::size_t kLineTableLimit = 65536;

// Indexes into CrashOptions::texts.
enum CrashText : std::size_t {
  kTextInfoCaption = 0,
  kTextQuestionCaption,
  kTextDialogCaption,
  kTextExplanation,
  kTextReportLabel,
  kTextButton,
  kTextActiveForm,
  kTextActiveControl,
  kTextExceptionType,
  kTextExceptionMessage,
  kTextVersionNumber,
  kTextAddressColumn,
  kTextModuleColumn,
  kTextUnitColumn,
  kTextLineColumn,
  kTextMailQuestion,
  kTextMailNotice,
  kTextCount
};

struct CrashOptions {
  std::uint16_t formatVersion = kOptionsFormatVersion;
  // Exception class name and the message shown for it instead of a report.
  std::vector<std::pair<std::string, std::string>> classMessages;
  std::vector<std::string> extraModules;
  std::vector<std::string> mailBodyLines;
  std::array<std::vector<std::string>, kTextCount> texts;

  std::int32_t maxLogEntries = 3;
  std::int32_t reserved = 0;    // stored in the block, never used
  std::int32_t outputMode = 0;  // 0 dialog, 1 console text, 2 web page
  std::int32_t sendMode = 0;    // 0 never, 1 at once, 2 at the next start
  std::int32_t askMode = 2;     // 0 ask, 1 inform, other values neither

  std::string mailAddress;
  std::string mailSubject;

  bool useClassMessages = false;
  bool noLogLimit = false;
  bool clearLogOnNewVersion = true;
  bool skipDuplicates = true;
  bool showAddress = false;
  bool showRowsWithoutLineInfo = false;
  bool showComputerName = true;
  bool showDate = true;
  bool showTime = true;
  bool showActiveForm = true;
  bool showActiveControl = true;
  bool showExceptionType = true;
  bool showExceptionMessage = true;
  bool showVersionNumber = true;
  bool noOutput = false;

  std::string logFolder;  // present only from format 301 on
  std::vector<std::uint8_t> lineTables;

  // A text list joined with CR LF, as it is used in boxes and reports.
  std::string Text(CrashText index) const;
};

// The options as this program ships them (without line tables).
CrashOptions TarnwickCrashOptions();

// Looks for the block at the end of `tail` (the last bytes of a file, or the
// whole file). Returns nothing when the magic is missing or the block is
// damaged in any way: a size larger than the data, a field running past the
// block's end. A line-table stream too large to resolve is dropped, the
// options themselves are kept.
std::optional<CrashOptions> ReadOptionsBlock(const std::uint8_t* tail, std::size_t size);

// The block as it is appended to a file: fields, line tables, size, magic.
std::vector<std::uint8_t> WriteOptionsBlock(const CrashOptions& options);

}  // namespace tarnwick
