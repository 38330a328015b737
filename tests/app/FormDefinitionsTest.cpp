// The three windows' definitions: positions, texts, tab order, fonts, and
// the docking arithmetic applied to them.
#include "app/FormDefinitions.h"

#include <gtest/gtest.h>

#include <set>

#include "app/ControlIds.h"
#include "ui/Layout.h"

namespace tarnwick {

void PrintTo(const Rect& r, std::ostream* os) {
  *os << "{" << r.left << "," << r.top << "," << r.width << "," << r.height << "}";
}

namespace {

const ControlDef& Get(const FormDef& f, const char* name) {
  const ControlDef* c = f.Find(name);
  if (c == nullptr) throw std::logic_error(std::string("missing ") + name);
  return *c;
}

Rect Placed(const FormDef& f, const char* name) {
  std::vector<Rect> all = LayoutForm(f);
  for (std::size_t i = 0; i < f.controls.size(); ++i)
    if (f.controls[i].name == name) return all[i];
  throw std::logic_error(std::string("missing ") + name);
}

TEST(MainForm, WindowSettings) {
  const FormDef& f = MainFormDefinition();
  EXPECT_EQ(f.caption, "Tarnwick LE");
  EXPECT_EQ(f.clientWidth, 610);
  EXPECT_EQ(f.clientHeight, 311);
  EXPECT_EQ(f.border, BorderStyle::Sizeable);
  EXPECT_TRUE(f.centred);
  EXPECT_EQ(f.font.face, "MS P ゴシック");
  EXPECT_EQ(f.font.height, 11);
}

TEST(MainForm, ConnectionBoxControlsPositionsTextsAndTabOrder) {
  struct Row {
    const char* name;
    ControlKind kind;
    int left, top, width;
    const char* text;
    int tab;
  };
  const Row rows[] = {
      {"Label2", ControlKind::Label, 13, 20, 0, "ホストIP", -1},
      {"Label3", ControlKind::Label, 13, 44, 0, "ポート番号", -1},
      {"Label4", ControlKind::Label, 13, 68, 0, "ファイル名", -1},
      {"Label1", ControlKind::Label, 13, 91, 0, "パスワード", -1},
      {"Label5", ControlKind::Label, 13, 115, 0, "区切り文字", -1},
      {"Label6", ControlKind::Label, 125, 42, 0, "初期値 udp/69", -1},
      {"TargetSystemEdit", ControlKind::Edit, 81, 16, 121, "127.0.0.1", 0},
      {"TargetPortEdit", ControlKind::Edit, 80, 40, 37, "69", 1},
      {"TargetFileEdit", ControlKind::Edit, 80, 64, 121, "config", 2},
      {"Password", ControlKind::PasswordEdit, 80, 87, 121, "", 3},
      {"Delimiter", ControlKind::Edit, 80, 111, 121, "/", 4},
      {"ckbMaskPassword", ControlKind::CheckBox, 8, 136, 185, "パスワードをログに表示しない", 5},
      {"ckbShowConfirm", ControlKind::CheckBox, 8, 152, 185, "ファイル送信前に確認しない", 6},
  };
  const FormDef& f = MainFormDefinition();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ControlDef& c = Get(f, row.name);
    EXPECT_EQ(c.parent, "GroupBox1");
    EXPECT_EQ(c.kind, row.kind);
    EXPECT_EQ(c.bounds.left, row.left);
    EXPECT_EQ(c.bounds.top, row.top);
    if (row.width != 0) {
      EXPECT_EQ(c.bounds.width, row.width);
    }
    EXPECT_EQ(c.text, row.text);
    EXPECT_EQ(c.tabOrder, row.tab);
  }
  EXPECT_TRUE(Get(f, "ckbMaskPassword").checked);
  EXPECT_FALSE(Get(f, "ckbShowConfirm").checked);
  EXPECT_EQ(TabSequenceOf(f, "GroupBox1"),
            (std::vector<std::string>{"TargetSystemEdit", "TargetPortEdit", "TargetFileEdit", "Password", "Delimiter",
                                      "ckbMaskPassword", "ckbShowConfirm"}));
}

TEST(MainForm, ButtonsStackUnderTheGroupBoxInTabOrder) {
  const FormDef& f = MainFormDefinition();
  struct Row {
    const char* name;
    int top;
    const char* caption;
  };
  const Row rows[] = {{"BGetFile", 180, "ファイルを受信(&R)"},
                      {"BPutFile", 208, "ファイルを送信(&S)"},
                      {"BAbout", 236, "このアプリケーションについて(&A)"},
                      {"BExit", 264, "終了(&Q)"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ControlDef& c = Get(f, row.name);
    EXPECT_EQ(c.bounds, (Rect{2, row.top, 213, 25}));
    EXPECT_EQ(c.text, row.caption);
    EXPECT_EQ(c.parent, "Panel1");
    // Each button lies inside the left panel once docked.
    Rect panel = Placed(f, "Panel1");
    EXPECT_LE(c.bounds.bottom(), panel.height);
  }
  EXPECT_EQ(TabSequenceOf(f, "Panel1"),
            (std::vector<std::string>{"GroupBox1", "BGetFile", "BPutFile", "BAbout", "BExit"}));
  EXPECT_EQ(TabSequenceOf(f, ""), (std::vector<std::string>{"Panel1", "Panel2"}));
}

TEST(MainForm, DockingGivesPanelsStatusBarAndLogTheirPlaces) {
  const FormDef& f = MainFormDefinition();
  EXPECT_EQ(Placed(f, "StatusBar1"), (Rect{0, 291, 610, 20}));
  EXPECT_EQ(Placed(f, "Panel1"), (Rect{0, 0, 217, 291}));
  EXPECT_EQ(Placed(f, "Panel2"), (Rect{217, 0, 393, 291}));
  EXPECT_EQ(Placed(f, "GroupBox1"), (Rect{0, 0, 217, 176}));
  EXPECT_EQ(Placed(f, "GroupBox2"), (Rect{0, 0, 393, 291}));
  EXPECT_EQ(Get(f, "Panel1").color, kPanelColor);
  EXPECT_EQ(Get(f, "Panel2").color, kPanelColor);
  EXPECT_EQ(kPanelColor, Color::FromRgb(240, 231, 187));
}

TEST(MainForm, FontsInheritDownThePanels) {
  const FormDef& f = MainFormDefinition();
  struct Row {
    const char* name;
    int height;
    bool underline;
  };
  const Row rows[] = {{"Panel1", 12, false},  {"GroupBox1", 12, false}, {"TargetSystemEdit", 12, false},
                      {"BExit", 12, false},   {"Label6", 12, true},     {"Panel2", 11, false},
                      {"GroupBox2", 11, false}, {"Log", 12, false},     {"StatusBar1", 11, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FontDef font = EffectiveFont(f, row.name);
    EXPECT_EQ(font.face, "MS P ゴシック");
    EXPECT_EQ(font.height, row.height);
    EXPECT_EQ(font.underline, row.underline);
  }
  EXPECT_EQ(EffectiveFont(f, "Label6").color, colors::Red);
  EXPECT_THROW(EffectiveFont(f, "NoSuchControl"), std::invalid_argument);
}

TEST(MainForm, LogIsAnEditableMemoWithoutText) {
  const ControlDef& log = Get(MainFormDefinition(), "Log");
  EXPECT_EQ(log.kind, ControlKind::Memo);
  EXPECT_FALSE(log.readOnly);
  EXPECT_TRUE(log.text.empty());
  EXPECT_EQ(log.parent, "GroupBox2");
  EXPECT_EQ(log.align, Align::Client);
}

TEST(AllForms, ControlIdsAreUniqueAndAvoidTheDialogCommandIds) {
  std::set<int> seen;
  for (const FormDef* f : {&MainFormDefinition(), &ConfirmFormDefinition(), &AboutFormDefinition()}) {
    for (const ControlDef& c : f->controls) {
      SCOPED_TRACE(c.name);
      EXPECT_GT(c.id, 2);  // 1 and 2 are what Enter and Escape send
      EXPECT_TRUE(seen.insert(c.id).second);
    }
  }
}

TEST(ConfirmForm, LayoutTextsAndResults) {
  const FormDef& f = ConfirmFormDefinition();
  EXPECT_EQ(f.caption, "ファイル送信の確認");
  EXPECT_EQ(f.clientWidth, 338);
  EXPECT_EQ(f.clientHeight, 125);
  EXPECT_EQ(f.border, BorderStyle::Dialog);
  EXPECT_EQ(f.font.face, "ＭＳ Ｐゴシック");
  EXPECT_EQ(f.font.charset, kShiftJisCharset);
  EXPECT_EQ(Placed(f, "Memo1"), (Rect{0, 0, 338, 93}));
  EXPECT_TRUE(Get(f, "Memo1").readOnly);
  EXPECT_EQ(Get(f, "Button1").bounds, (Rect{88, 96, 75, 25}));
  EXPECT_EQ(Get(f, "Button2").bounds, (Rect{168, 96, 75, 25}));
  EXPECT_EQ(Get(f, "Button1").modalResult, 1);
  EXPECT_EQ(Get(f, "Button2").modalResult, 2);
  EXPECT_EQ(TabSequenceOf(f, ""), (std::vector<std::string>{"Memo1", "Button1", "Button2"}));
  ASSERT_EQ(ConfirmationLines().size(), 6u);
  EXPECT_EQ(ConfirmationLines().front(), "*** 重要 ***");
  EXPECT_EQ(ConfirmationLines().back(), "ニュアル等でよくご確認の上送信してください。");
  std::string joined;
  for (const auto& l : ConfirmationLines()) joined += l + "\n";
  EXPECT_EQ(Get(f, "Memo1").text, joined);
}

TEST(AboutForm, LayoutAndMemoSettings) {
  const FormDef& f = AboutFormDefinition();
  EXPECT_EQ(f.caption, "このアプリケーションについて");
  EXPECT_EQ(f.clientWidth, 338);
  EXPECT_EQ(f.clientHeight, 198);
  EXPECT_EQ(Placed(f, "Memo1"), (Rect{0, 0, 338, 169}));
  const ControlDef& memo = Get(f, "Memo1");
  EXPECT_TRUE(memo.readOnly);
  EXPECT_EQ(memo.scrollBars, ScrollBars::Vertical);
  EXPECT_EQ(memo.font.face, "ＭＳ Ｐゴシック");
  EXPECT_EQ(Get(f, "btnClose").bounds, (Rect{261, 171, 75, 25}));
  EXPECT_EQ(Get(f, "btnClose").text, "閉じる(&C)");
  EXPECT_EQ(MnemonicOf(Get(f, "btnClose").text.c_str()), U'C');
}

TEST(AboutText, HasTheDescribedStructure) {
  const auto& lines = AboutLines();
  ASSERT_EQ(lines.size(), 78u);
  const std::string rule(51, '-');
  EXPECT_EQ(lines[0], rule);
  EXPECT_EQ(lines[3], rule);
  EXPECT_NE(lines[1].find("アプリケーション"), std::string::npos);
  EXPECT_NE(lines[1].find("Tarnwick"), std::string::npos);
  EXPECT_NE(lines[2].find("Tarnwick team"), std::string::npos);
  EXPECT_EQ(lines[4], " ");
  EXPECT_EQ(lines[5], "ご利用いただきありがとうございます。");
  EXPECT_EQ(lines[6], "");

  // Headings in order, each after an empty line, each section non-empty.
  std::vector<std::string> headings;
  for (std::size_t i = 7; i < lines.size(); ++i) {
    if (lines[i].rfind("■", 0) != 0) continue;
    headings.push_back(lines[i]);
    EXPECT_EQ(lines[i - 1], "") << lines[i];
    ASSERT_LT(i + 1, lines.size());
    EXPECT_FALSE(lines[i + 1].empty()) << lines[i];
  }
  ASSERT_EQ(headings.size(), 9u);
  EXPECT_EQ(headings[0], "■Tarnwick について");
  EXPECT_EQ(headings[1], "■特徴");
  EXPECT_EQ(headings[2], "■重要な仕様");
  EXPECT_EQ(headings[3], "■インストール方法");
  EXPECT_EQ(headings[4], "■アンインストール方法");
  EXPECT_EQ(headings[7], "■既知の不具合");
  EXPECT_EQ(headings[8], "■改修履歴");
  EXPECT_EQ(lines[7], headings[0]);

  auto at = [&](const std::string& heading) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), heading) - lines.begin());
  };
  // Four features, each a "・" line.
  std::size_t features = at("■特徴");
  for (std::size_t i = features + 1; i <= features + 4; ++i) EXPECT_EQ(lines[i].rfind("・", 0), 0u) << lines[i];
  EXPECT_EQ(lines[features + 5], "");
  EXPECT_EQ(lines[at("■既知の不具合") + 1], "・とくになし");
  // The history is the end: one entry and its version line.
  std::size_t history = at("■改修履歴");
  EXPECT_EQ(history + 3, lines.size());
  EXPECT_EQ(lines[history + 1], "・ 2006/06/12");
  EXPECT_NE(lines[history + 2].find("Version 1"), std::string::npos);
  // No person is named: the credit is the team's.
  for (const auto& l : lines) EXPECT_EQ(l.find("作者："), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
