#include "crash/CrashOptions.h"

#include <algorithm>

#include "crash/ByteReader.h"

namespace tarnwick {

std::string CrashOptions::Text(CrashText index) const {
  std::string joined;
  for (const std::string& line : texts[index]) {
    if (!joined.empty()) joined += "\r\n";
    joined += line;
  }
  return joined;
}

CrashOptions TarnwickCrashOptions() {
  CrashOptions o;
  o.texts = {{
      {"Information."},
      {"Question."},
      {"Exception Log"},
      {"An error has occurred during the execution of the program.",
       "For more details read the following informations."},
      {"Informations on the error:"},
      {"&OK"},
      {"Active Form"},
      {"Active Control"},
      {"Exception Type"},
      {"Exception Message"},
      {"Version Number"},
      {"Address"},
      {"Module"},
      {"Unit"},
      {"Line"},
      {"Can i send an email with the occurred errors to the auhor of the program ?"},
      {"Now i send an email with the occurred errors to the auhor of the program."},
  }};
  o.maxLogEntries = 0;
  o.outputMode = 0;
  o.sendMode = 0;
  o.askMode = 2;
  o.useClassMessages = true;
  o.noLogLimit = false;
  o.clearLogOnNewVersion = true;
  o.skipDuplicates = true;
  o.showAddress = false;
  o.showRowsWithoutLineInfo = false;
  o.showComputerName = true;
  o.showDate = true;
  o.showTime = true;
  o.showActiveForm = true;
  o.showActiveControl = true;
  o.showExceptionType = true;
  o.showExceptionMessage = true;
  o.showVersionNumber = true;
  o.noOutput = false;
  return o;
}

namespace {

// The fifteen switches in the order the block stores them.
template <class Options>
auto SwitchAt(Options& o, int i) {
  decltype(&o.noOutput) switches[] = {
      &o.useClassMessages,     &o.noLogLimit,        &o.clearLogOnNewVersion,
      &o.skipDuplicates,       &o.showAddress,       &o.showRowsWithoutLineInfo,
      &o.showComputerName,     &o.showDate,          &o.showTime,
      &o.showActiveForm,       &o.showActiveControl, &o.showExceptionType,
      &o.showExceptionMessage, &o.showVersionNumber, &o.noOutput};
  return switches[i];
}

constexpr int kSwitchCount = 15;

bool ReadFields(ByteReader& r, CrashOptions& o) {
  std::uint16_t pairs = 0;
  if (!r.U16(o.formatVersion) || !r.U16(pairs)) return false;
  if (r.Remaining() < static_cast<std::size_t>(pairs) * 2) return false;
  o.classMessages.clear();
  for (std::uint16_t i = 0; i < pairs; ++i) {
    std::pair<std::string, std::string> entry;
    if (!r.ShortString(entry.first) || !r.ShortString(entry.second)) return false;
    o.classMessages.push_back(std::move(entry));
  }
  if (!r.TextList(o.extraModules) || !r.TextList(o.mailBodyLines)) return false;
  for (auto& text : o.texts)
    if (!r.TextList(text)) return false;
  if (!r.I32(o.maxLogEntries) || !r.I32(o.reserved) || !r.I32(o.outputMode) || !r.I32(o.sendMode) ||
      !r.I32(o.askMode))
    return false;
  if (!r.ShortString(o.mailAddress) || !r.ShortString(o.mailSubject)) return false;
  for (int i = 0; i < kSwitchCount; ++i) {
    std::uint8_t b = 0;
    if (!r.U8(b)) return false;
    *SwitchAt(o, i) = b != 0;
  }
  o.logFolder.clear();
  if (o.formatVersion > 300 && !r.ShortString(o.logFolder)) return false;
  return true;
}

}  // namespace

std::optional<CrashOptions> ReadOptionsBlock(const std::uint8_t* tail, std::size_t size) {
  if (tail == nullptr || size < 8) return std::nullopt;
  ByteReader trailer(tail + size - 8, 8);
  std::uint32_t blockSize = 0, magic = 0;
  trailer.U32(blockSize);
  trailer.U32(magic);
  if (magic != kOptionsMagic || blockSize > size - 8) return std::nullopt;

  const std::uint8_t* block = tail + (size - 8 - blockSize);
  ByteReader r(block, blockSize);
  CrashOptions o;
  if (!ReadFields(r, o)) return std::nullopt;
  if (r.Remaining() < kLineTableLimit) r.Bytes(r.Remaining(), o.lineTables);
  return o;
}

std::vector<std::uint8_t> WriteOptionsBlock(const CrashOptions& o) {
  ByteWriter w;
  w.U16(o.formatVersion);
  const std::size_t pairs = std::min<std::size_t>(o.classMessages.size(), 0xFFFF);
  w.U16(static_cast<std::uint16_t>(pairs));
  for (std::size_t i = 0; i < pairs; ++i) {
    w.ShortString(o.classMessages[i].first);
    w.ShortString(o.classMessages[i].second);
  }
  w.TextList(o.extraModules);
  w.TextList(o.mailBodyLines);
  for (const auto& text : o.texts) w.TextList(text);
  w.I32(o.maxLogEntries);
  w.I32(o.reserved);
  w.I32(o.outputMode);
  w.I32(o.sendMode);
  w.I32(o.askMode);
  w.ShortString(o.mailAddress);
  w.ShortString(o.mailSubject);
  for (int i = 0; i < kSwitchCount; ++i) w.U8(*SwitchAt(o, i) ? 1 : 0);
  if (o.formatVersion > 300) w.ShortString(o.logFolder);
  w.Append(o.lineTables);
  const std::uint32_t blockSize = static_cast<std::uint32_t>(w.Bytes().size());
  w.U32(blockSize);
  w.U32(kOptionsMagic);
  return w.Take();
}

}  // namespace tarnwick
