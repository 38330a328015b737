// Declarative form definitions: what a form and each of its controls look
// like when the form is created. Plain data, UTF-8 texts; the Win32 side
// builds windows from it, the native tests read it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Layout.h"

namespace tarnwick {

// A colour: an RGB value, or "not set" (inherit from the parent / use the
// control's own default), or the system button face.
struct Color {
  enum Kind : std::uint8_t { Default, Rgb, ButtonFace, Window };
  Kind kind = Default;
  std::uint8_t r = 0, g = 0, b = 0;
  static constexpr Color FromRgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return {Rgb, r, g, b}; }
  static constexpr Color Face() { return {ButtonFace, 0, 0, 0}; }
  static constexpr Color WindowColor() { return {Window, 0, 0, 0}; }
  bool IsSet() const noexcept { return kind != Default; }
  bool operator==(const Color& o) const noexcept {
    return kind == o.kind && (kind != Rgb || (r == o.r && g == o.g && b == o.b));
  }
};

namespace colors {
constexpr Color Red = Color::FromRgb(255, 0, 0);
constexpr Color Silver = Color::FromRgb(192, 192, 192);
constexpr Color HotOrange = Color::FromRgb(255, 128, 64);
}  // namespace colors

constexpr std::uint8_t kDefaultCharset = 1;   // DEFAULT_CHARSET
constexpr std::uint8_t kShiftJisCharset = 128;  // SHIFTJIS_CHARSET

// A font; an empty face means "the parent's font" (height and all).
struct FontDef {
  std::string face;
  int height = 0;  // character height in pixels
  bool underline = false;
  std::uint8_t charset = kDefaultCharset;
  Color color;  // text colour; Default = the system's
  bool Inherits() const noexcept { return face.empty(); }
  bool operator==(const FontDef& o) const noexcept {
    return face == o.face && height == o.height && underline == o.underline && charset == o.charset &&
           color == o.color;
  }
};

enum class ControlKind { Panel, GroupBox, Label, Edit, PasswordEdit, CheckBox, Button, Memo, StatusBar };
enum class ScrollBars { None, Vertical, Both };

struct ControlDef {
  ControlKind kind = ControlKind::Panel;
  std::string name;
  std::string parent;  // empty: the form itself
  int id = 0;          // stable dialog-item id, for driving the window from outside
  Rect bounds;         // within the parent's client area; labels size themselves when width is 0
  Align align = Align::None;
  int tabOrder = -1;  // negative: not a tab stop
  std::string text;   // caption or initial text
  FontDef font;
  Color color;
  bool checked = false;
  bool readOnly = false;
  ScrollBars scrollBars = ScrollBars::None;
  int modalResult = 0;

  // Chained setters keep the definitions readable as tables.
  ControlDef& Id(int v) { id = v; return *this; }
  ControlDef& Tab(int v) { tabOrder = v; return *this; }
  ControlDef& Dock(Align v) { align = v; return *this; }
  ControlDef& Font(FontDef v) { font = std::move(v); return *this; }
  ControlDef& Background(Color v) { color = v; return *this; }
  ControlDef& Checked(bool v = true) { checked = v; return *this; }
  ControlDef& ReadOnly(bool v = true) { readOnly = v; return *this; }
  ControlDef& Scroll(ScrollBars v) { scrollBars = v; return *this; }
  ControlDef& Result(int v) { modalResult = v; return *this; }
};

ControlDef MakeControl(ControlKind kind, std::string name, std::string parent, Rect bounds, std::string text);

enum class BorderStyle { Sizeable, Dialog };

struct FormDef {
  std::string name;
  std::string caption;
  int clientWidth = 0;
  int clientHeight = 0;
  BorderStyle border = BorderStyle::Sizeable;
  bool centred = true;
  Color color = Color::Face();
  FontDef font;
  std::vector<ControlDef> controls;

  const ControlDef* Find(const std::string& controlName) const noexcept;
};

// The font a control really uses: its own, or the nearest ancestor's that
// is set, or the form's. Throws std::invalid_argument for an unknown name
// or a parent chain that loops.
FontDef EffectiveFont(const FormDef& form, const std::string& controlName);

// Client rectangles of the form's direct or nested children after docking,
// in the order of `controls`, each relative to its parent's client area.
// Group boxes and panels have no border here: the layout of their children
// starts at their client origin.
std::vector<Rect> LayoutForm(const FormDef& form);

// For each parent (empty name = the form), the controls it contains in tab
// sequence.
std::vector<std::string> TabSequenceOf(const FormDef& form, const std::string& parent);

}  // namespace tarnwick
