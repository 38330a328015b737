// The file dialog's bookkeeping around the system call: what it proposes,
// what it remembers, and the second try when the proposed name is refused.
#include <gtest/gtest.h>

#include <cderr.h>

#include <vector>

#include "ui/FileDialog.h"

namespace tarnwick {
namespace {

// Plays the system dialog: each call answers from a script.
class ScriptedDialog : public TFileDialog {
 public:
  struct Answer {
    BOOL result;
    DWORD error;
    const wchar_t* chosen;
  };
  ScriptedDialog() : TFileDialog(nullptr) {}
  std::vector<Answer> answers;
  std::vector<std::wstring> proposed, folders, titles;
  std::vector<DWORD> flags;

 protected:
  BOOL Call(OPENFILENAMEW& ofn) override {
    proposed.push_back(ofn.lpstrFile);
    folders.push_back(ofn.lpstrInitialDir ? ofn.lpstrInitialDir : L"");
    titles.push_back(ofn.lpstrTitle ? ofn.lpstrTitle : L"");
    flags.push_back(ofn.Flags);
    Answer a = answers.at(calls_);
    error_ = a.error;
    ++calls_;
    if (a.result) wcscpy(ofn.lpstrFile, a.chosen);
    return a.result;
  }
  DWORD ExtendedError() const override { return error_; }

 private:
  std::size_t calls_ = 0;
  DWORD error_ = 0;
};

TEST(FileDialog, RemembersTheChosenPathAndItsFolder) {
  ScriptedDialog d;
  d.title = L"Save File ...";
  d.options = OFN_HIDEREADONLY;
  d.fileName = L"config";
  d.answers = {{TRUE, 0, L"C:\\out\\config"}, {TRUE, 0, L"C:\\out\\other"}};
  ASSERT_TRUE(d.Execute(nullptr));
  EXPECT_EQ(d.fileName, L"C:\\out\\config");
  EXPECT_EQ(d.initialDir, L"C:\\out");
  // The next proposal without a folder opens where the last choice was.
  d.fileName = L"next";
  ASSERT_TRUE(d.Execute(nullptr));
  EXPECT_EQ(d.proposed, (std::vector<std::wstring>{L"config", L"next"}));
  EXPECT_EQ(d.folders, (std::vector<std::wstring>{L"", L"C:\\out"}));
  EXPECT_EQ(d.titles[0], L"Save File ...");
  EXPECT_EQ(d.flags[0], static_cast<DWORD>(OFN_HIDEREADONLY | OFN_EXPLORER));
}

TEST(FileDialog, CancelKeepsWhatWasRememberedBefore) {
  ScriptedDialog d;
  d.fileName = L"C:\\keep\\a.txt";
  d.initialDir = L"C:\\keep";
  d.answers = {{FALSE, 0, nullptr}};
  EXPECT_FALSE(d.Execute(nullptr));
  EXPECT_EQ(d.proposed.size(), 1u) << "a plain cancel is not retried";
  EXPECT_EQ(d.fileName, L"C:\\keep\\a.txt");
  EXPECT_EQ(d.initialDir, L"C:\\keep");
}

TEST(FileDialog, ARefusedProposedNameIsRetriedEmptySoTheUserStillChooses) {
  // A receive must not end as "cancelled" because the device's file name
  // is not a valid local name.
  ScriptedDialog d;
  d.fileName = L"cfg|a<b>";
  d.answers = {{FALSE, FNERR_INVALIDFILENAME, nullptr}, {TRUE, 0, L"C:\\x\\cfg.txt"}};
  EXPECT_TRUE(d.Execute(nullptr));
  EXPECT_EQ(d.proposed, (std::vector<std::wstring>{L"cfg|a<b>", L""}));
  EXPECT_EQ(d.fileName, L"C:\\x\\cfg.txt");
  // Other failures are not retried.
  ScriptedDialog other;
  other.fileName = L"x";
  other.answers = {{FALSE, FNERR_BUFFERTOOSMALL, nullptr}};
  EXPECT_THROW(other.Execute(nullptr), EFileDialogError);
  EXPECT_EQ(other.proposed.size(), 1u);
}

TEST(FileDialog, AFailingDialogIsAnErrorNotACancel) {
  // A cancel would drop the received data without a word; a failure must
  // reach the error handler with its code, and change nothing remembered.
  struct Row {
    std::vector<ScriptedDialog::Answer> answers;
    DWORD code;
    const char* name;
  };
  const Row rows[] = {
      {{{FALSE, CDERR_DIALOGFAILURE, nullptr}}, CDERR_DIALOGFAILURE, "CDERR_DIALOGFAILURE"},
      {{{FALSE, CDERR_MEMALLOCFAILURE, nullptr}}, CDERR_MEMALLOCFAILURE, "CDERR_MEMALLOCFAILURE"},
      {{{FALSE, CDERR_STRUCTSIZE, nullptr}}, CDERR_STRUCTSIZE, "CDERR_STRUCTSIZE"},
      {{{FALSE, FNERR_SUBCLASSFAILURE, nullptr}}, FNERR_SUBCLASSFAILURE, "FNERR_SUBCLASSFAILURE"},
      {{{FALSE, FNERR_BUFFERTOOSMALL, nullptr}}, FNERR_BUFFERTOOSMALL, "FNERR_BUFFERTOOSMALL"},
      // Refused name, then the retry itself fails.
      {{{FALSE, FNERR_INVALIDFILENAME, nullptr}, {FALSE, CDERR_INITIALIZATION, nullptr}},
       CDERR_INITIALIZATION,
       "CDERR_INITIALIZATION"},
      // Refused name, refused again without one: still no cancel.
      {{{FALSE, FNERR_INVALIDFILENAME, nullptr}, {FALSE, FNERR_INVALIDFILENAME, nullptr}},
       FNERR_INVALIDFILENAME,
       "FNERR_INVALIDFILENAME"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedDialog d;
    d.fileName = L"C:\\keep\\a.txt";
    d.initialDir = L"C:\\keep";
    d.answers = row.answers;
    try {
      d.Execute(nullptr);
      FAIL() << "a failed dialog must not read as a cancel";
    } catch (const EFileDialogError& e) {
      EXPECT_EQ(e.ErrorCode(), row.code);
      EXPECT_EQ(e.ClassName(), "EFileDialogError");
      EXPECT_NE(e.Message().find(row.name), std::string::npos) << e.Message();
    }
    EXPECT_EQ(d.proposed.size(), row.answers.size());
    EXPECT_EQ(d.fileName, L"C:\\keep\\a.txt");
    EXPECT_EQ(d.initialDir, L"C:\\keep");
  }
}

TEST(FileDialog, ARefusedNameThenACancelIsACancel) {
  ScriptedDialog d;
  d.fileName = L"a:b";
  d.answers = {{FALSE, FNERR_INVALIDFILENAME, nullptr}, {FALSE, 0, nullptr}};
  EXPECT_FALSE(d.Execute(nullptr));
  EXPECT_EQ(d.proposed.size(), 2u);
}

TEST(FileDialog, OverlongProposedNameIsCutToTheBuffer) {
  ScriptedDialog d;
  d.fileName = std::wstring(40000, L'a');
  d.answers = {{FALSE, 0, nullptr}};
  EXPECT_FALSE(d.Execute(nullptr));
  EXPECT_EQ(d.proposed.at(0).size(), 32767u);
}

}  // namespace
}  // namespace tarnwick
