#include "app/FormDefinitions.h"

#include "app/ControlIds.h"
#include "ui/ModalResult.h"

namespace tarnwick {
namespace {

FontDef Font(const char* face, int height, bool underline = false, Color color = {}) {
  FontDef f;
  f.face = face;
  f.height = height;
  f.underline = underline;
  f.charset = kShiftJisCharset;
  f.color = color;
  return f;
}

ControlDef C(ControlKind kind, const char* name, const char* parent, Rect bounds, const char* text = "") {
  return MakeControl(kind, name, parent, bounds, text);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

FormDef BuildMainForm() {
  using K = ControlKind;
  FormDef f;
  f.name = "Form1";
  f.caption = "Tarnwick LE";
  f.clientWidth = 610;
  f.clientHeight = 311;
  f.border = BorderStyle::Sizeable;
  f.color = Color::Face();
  f.font = Font(kFaceHalfWidth, 11);
  // Edit boxes and check boxes are given heights that keep the rows of the
  // connection box apart at this font size.
  const int editHeight = 20;
  const int checkHeight = 16;
  f.controls = {
      C(K::Panel, "Panel1", "", {0, 0, 217, 291}).Id(ids::Panel1).Dock(Align::Left).Tab(0)
          .Background(kPanelColor).Font(Font(kFaceHalfWidth, 12)),
      C(K::GroupBox, "GroupBox1", "Panel1", {0, 0, 217, 176}, "接続先").Id(ids::GroupBox1).Dock(Align::Top).Tab(0),
      C(K::Label, "Label2", "GroupBox1", {13, 20, 0, 0}, "ホストIP").Id(ids::Label2),
      C(K::Label, "Label3", "GroupBox1", {13, 44, 0, 0}, "ポート番号").Id(ids::Label3),
      C(K::Label, "Label4", "GroupBox1", {13, 68, 0, 0}, "ファイル名").Id(ids::Label4),
      C(K::Label, "Label1", "GroupBox1", {13, 91, 0, 0}, "パスワード").Id(ids::Label1),
      C(K::Label, "Label5", "GroupBox1", {13, 115, 0, 0}, "区切り文字").Id(ids::Label5),
      C(K::Label, "Label6", "GroupBox1", {125, 42, 0, 0}, "初期値 udp/69").Id(ids::Label6)
          .Font(Font(kFaceHalfWidth, 12, true, colors::Red)),
      C(K::Edit, "TargetSystemEdit", "GroupBox1", {81, 16, 121, editHeight}, "127.0.0.1")
          .Id(ids::TargetSystemEdit).Tab(0),
      C(K::Edit, "TargetPortEdit", "GroupBox1", {80, 40, 37, editHeight}, "69").Id(ids::TargetPortEdit).Tab(1),
      C(K::Edit, "TargetFileEdit", "GroupBox1", {80, 64, 121, editHeight}, "config").Id(ids::TargetFileEdit).Tab(2),
      C(K::PasswordEdit, "Password", "GroupBox1", {80, 87, 121, editHeight}).Id(ids::Password).Tab(3),
      C(K::Edit, "Delimiter", "GroupBox1", {80, 111, 121, editHeight}, "/").Id(ids::Delimiter).Tab(4),
      C(K::CheckBox, "ckbMaskPassword", "GroupBox1", {8, 136, 185, checkHeight}, "パスワードをログに表示しない")
          .Id(ids::ckbMaskPassword).Tab(5).Checked(true),
      C(K::CheckBox, "ckbShowConfirm", "GroupBox1", {8, 152, 185, checkHeight}, "ファイル送信前に確認しない")
          .Id(ids::ckbShowConfirm).Tab(6).Checked(false),
      C(K::Button, "BGetFile", "Panel1", {2, 180, 213, 25}, "ファイルを受信(&R)").Id(ids::BGetFile).Tab(1),
      C(K::Button, "BPutFile", "Panel1", {2, 208, 213, 25}, "ファイルを送信(&S)").Id(ids::BPutFile).Tab(2),
      C(K::Button, "BAbout", "Panel1", {2, 236, 213, 25}, "このアプリケーションについて(&A)").Id(ids::BAbout).Tab(3),
      C(K::Button, "BExit", "Panel1", {2, 264, 213, 25}, "終了(&Q)").Id(ids::BExit).Tab(4),
      C(K::Panel, "Panel2", "", {217, 0, 393, 291}).Id(ids::Panel2).Dock(Align::Client).Tab(1)
          .Background(kPanelColor),
      C(K::GroupBox, "GroupBox2", "Panel2", {0, 0, 393, 291}, "作業ログ").Id(ids::GroupBox2).Dock(Align::Client).Tab(0),
      C(K::Memo, "Log", "GroupBox2", {0, 0, 389, 275}).Id(ids::Log).Dock(Align::Client).Tab(0)
          .Font(Font(kFaceHalfWidth, 12)),
      C(K::StatusBar, "StatusBar1", "", {0, 291, 610, 20}).Id(ids::StatusBar1).Dock(Align::Bottom),
  };
  return f;
}

FormDef BuildConfirmForm() {
  using K = ControlKind;
  FormDef f;
  f.name = "_FrmConfirm";
  f.caption = "ファイル送信の確認";
  f.clientWidth = 338;
  f.clientHeight = 125;
  f.border = BorderStyle::Dialog;
  f.color = Color::Face();
  f.font = Font(kFaceFullWidth, 12);
  f.controls = {
      C(K::Memo, "Memo1", "", {0, 0, 338, 93}).Id(ids::ConfirmMemo).Dock(Align::Top).Tab(0).ReadOnly(),
      C(K::Button, "Button1", "", {88, 96, 75, 25}, "送信を実行").Id(ids::ConfirmExecute).Tab(1).Result(mrOk),
      C(K::Button, "Button2", "", {168, 96, 75, 25}, "キャンセル").Id(ids::ConfirmCancel).Tab(2).Result(mrCancel),
  };
  f.controls[0].text = JoinLines(ConfirmationLines());
  return f;
}

FormDef BuildAboutForm() {
  using K = ControlKind;
  FormDef f;
  f.name = "About";
  f.caption = "このアプリケーションについて";
  f.clientWidth = 338;
  f.clientHeight = 198;
  f.border = BorderStyle::Dialog;
  f.color = Color::Face();
  f.font = Font(kFaceHalfWidth, 12);
  f.controls = {
      C(K::Memo, "Memo1", "", {0, 0, 338, 169}).Id(ids::AboutMemo).Dock(Align::Top).Tab(0).ReadOnly()
          .Scroll(ScrollBars::Vertical).Font(Font(kFaceFullWidth, 12)),
      C(K::Button, "btnClose", "", {261, 171, 75, 25}, "閉じる(&C)").Id(ids::AboutClose).Tab(1),
  };
  f.controls[0].text = JoinLines(AboutLines());
  return f;
}

}  // namespace

const std::vector<std::string>& ConfirmationLines() {
  static const std::vector<std::string> lines = {
      "*** 重要 ***",
      "接続先の機種によっては、ファイル名が違っていた場合にエラー",
      "を返し、処理を中断してくれるものもありますが、そうではないもの",
      "もあります。ファイル名が正しくない場合に、機器等が故障する可",
      "能性も否めませんので、送信するファイル名が正しいかどうか、マ",
      "ニュアル等でよくご確認の上送信してください。",
  };
  return lines;
}

const FormDef& MainFormDefinition() {
  static const FormDef def = BuildMainForm();
  return def;
}

const FormDef& ConfirmFormDefinition() {
  static const FormDef def = BuildConfirmForm();
  return def;
}

const FormDef& AboutFormDefinition() {
  static const FormDef def = BuildAboutForm();
  return def;
}

}  // namespace tarnwick
