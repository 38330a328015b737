#include "ui/FileDialogRules.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(DirectoryPart, SplitsAtTheLastSeparatorAndKeepsRoots) {
  struct Row {
    const wchar_t* path;
    const wchar_t* folder;
  };
  const Row rows[] = {
      {L"C:\\a\\b.txt", L"C:\\a"}, {L"C:\\b.txt", L"C:\\"},   {L"b.txt", L""},
      {L"", L""},                  {L"C:b.txt", L"C:"},       {L"\\b.txt", L"\\"},
      {L"Z:/tmp/x/y", L"Z:/tmp/x"}, {L"C:\\a\\", L"C:\\a"},   {L"\\\\srv\\share\\f", L"\\\\srv\\share"},
      {L"C:\\日本\\保存.txt", L"C:\\日本"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::wstring(row.path).size());
    EXPECT_EQ(DirectoryPart(row.path), row.folder);
  }
}

TEST(StartFolder, OwnFolderWinsOverTheLastOne) {
  EXPECT_EQ(StartFolder(L"config", L"C:\\last"), L"C:\\last");
  EXPECT_EQ(StartFolder(L"", L"C:\\last"), L"C:\\last");
  EXPECT_EQ(StartFolder(L"D:\\x\\config", L"C:\\last"), L"D:\\x");
  EXPECT_EQ(StartFolder(L"config", L""), L"");
}

TEST(FitToBuffer, NeverFillsTheTerminatorSlot) {
  EXPECT_EQ(FitToBuffer(L"abc", 0), L"");
  EXPECT_EQ(FitToBuffer(L"abc", 1), L"");
  EXPECT_EQ(FitToBuffer(L"abc", 3), L"ab");
  EXPECT_EQ(FitToBuffer(L"abc", 4), L"abc");
  EXPECT_EQ(FitToBuffer(L"abc", 100), L"abc");
  EXPECT_EQ(FitToBuffer(L"", 1), L"");
}

TEST(FileDialogErrorMessage, NamesTheCodeInHexAndByName) {
  struct Row {
    std::uint32_t code;
    const char* message;
  };
  const Row rows[] = {
      {0xFFFF, "ファイルダイアログを表示できません（CommDlgExtendedError 0xFFFF CDERR_DIALOGFAILURE）"},
      {0x0001, "ファイルダイアログを表示できません（CommDlgExtendedError 0x0001 CDERR_STRUCTSIZE）"},
      {0x000C, "ファイルダイアログを表示できません（CommDlgExtendedError 0x000C CDERR_REGISTERMSGFAIL）"},
      {0x3003, "ファイルダイアログを表示できません（CommDlgExtendedError 0x3003 FNERR_BUFFERTOOSMALL）"},
      // Unknown codes still show their number.
      {0x000D, "ファイルダイアログを表示できません（CommDlgExtendedError 0x000D）"},
      {0x12345678, "ファイルダイアログを表示できません（CommDlgExtendedError 0x12345678）"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(FileDialogErrorMessage(row.code), row.message);
  }
  EXPECT_STREQ(CommonDialogErrorName(0), "");
  EXPECT_STREQ(CommonDialogErrorName(0x3002), "FNERR_INVALIDFILENAME");
}

}  // namespace
}  // namespace tarnwick
