// The windowed control every visible part of a form is built from: a
// component with a parent, bounds, docking, caption, font and colours, and
// one window handle created on demand. Controls of our own window classes
// bind to their window at WM_NCCREATE; system controls (EDIT, BUTTON, ...)
// are subclassed right after creation. Both entries are static noexcept
// procedures that run the member handler under the application's guard.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/Component.h"
#include "ui/FormDef.h"
#include "ui/Handle.h"

namespace tarnwick {

class TForm;

struct CreateParamsRec {
  const wchar_t* className = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool ownClass = false;  // registered by us: bind at WM_NCCREATE, default is DefWindowProcW
};

class TWinControl : public TComponent {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  // The window, created (with the parent's) on first use.
  HWND Handle();
  bool HandleAllocated() const noexcept { return handle_ != nullptr; }
  // The object bound to a window of ours, or null.
  static TWinControl* FromHandle(HWND wnd) noexcept;

  TWinControl* Parent() const noexcept { return parent_; }
  void SetParent(TWinControl* parent);
  std::size_t ControlCount() const noexcept { return children_.size(); }
  TWinControl* Controls(std::size_t i) const { return children_.at(i); }
  // The form this control sits on (itself for a form).
  TForm* ParentForm() noexcept;

  const Rect& Bounds() const noexcept { return bounds_; }
  void SetBounds(const Rect& r);
  Align GetAlign() const noexcept { return align_; }
  void SetAlign(Align a);
  int ClientWidth();
  int ClientHeight();

  std::wstring Text() const;
  void SetText(const std::wstring& text);

  // Font: an inheriting definition takes the parent's.
  void SetFont(const FontDef& font);
  FontDef EffectiveFont() const;
  HFONT FontHandle() const;
  // Background; Default means the parent's colour shows through.
  void SetColor(Color c);
  Color GetColor() const noexcept { return color_; }
  COLORREF EffectiveBackground() const;

  int TabOrder() const noexcept { return tabOrder_; }
  void SetTabOrder(int order) noexcept { tabOrder_ = order; }
  int ControlId() const noexcept { return id_; }
  void SetControlId(int id) noexcept { id_ = id; }

  bool Visible() const noexcept { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const;
  void SetEnabled(bool e);
  void SetFocus();
  bool Focused() const;

  // Places docked children in the client area and applies the tab order of
  // the children as their z-order, which is what Tab follows.
  void Realign();
  void ApplyTabOrder();
  // The part of the client area that docked children share.
  virtual Rect AlignArea();

  // Clicks and notifications the parent reflects to the control that sent
  // them. True when handled; `result` is then the answer.
  virtual bool HandleReflected(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // Property assignment from a form definition (loading phase); derived
  // controls take their own fields.
  virtual void ApplyDefinition(const ControlDef& def);

  // The two window-procedure entries: own classes bind at WM_NCCREATE,
  // system controls are subclassed. Public so the classes can be
  // registered; not meant to be called directly.
  static LRESULT CALLBACK OwnClassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  static LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;

 protected:
  virtual void CreateParams(CreateParamsRec& params) = 0;
  virtual void CreateHandle();
  // Called once the window exists: fonts, texts and state are applied here.
  virtual void HandleCreated();
  void DestroyHandle() noexcept;

  // The member handler; everything not handled ends in DefaultHandler.
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam);
  // The window to create ours in: the parent's, or for a top-level form
  // the window that owns it.
  virtual HWND ParentHandleForCreate();

  // Brush used for WM_CTLCOLOR* of this control, created on demand.
  HBRUSH BackgroundBrush();
  virtual HBRUSH CtlColor(HDC dc, UINT msg);

  void Notification(TComponent* component, Operation operation) override;

  std::wstring text_;

 private:
  bool Reflect(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) noexcept;
  LRESULT Dispatch(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  // Ties the window to this object (its handle and the lookup property).
  void Bind(HWND wnd) noexcept;
  void Detach() noexcept;

  HWND handle_ = nullptr;
  WNDPROC oldProc_ = nullptr;  // subclassed system control: its class procedure
  TWinControl* parent_ = nullptr;
  std::vector<TWinControl*> children_;
  Rect bounds_;
  Align align_ = Align::None;
  FontDef font_;
  Color color_;
  UniqueBrush brush_;
  COLORREF brushColor_ = 0;
  int tabOrder_ = -1;
  int id_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
};

// Window classes registered by the library; Initialize() registers them.
namespace window_class {
constexpr const wchar_t* Form = L"TarnwickForm";
constexpr const wchar_t* Panel = L"TarnwickPanel";
constexpr const wchar_t* Application = L"TarnwickApplication";
void RegisterAll(HINSTANCE instance);
}  // namespace window_class

COLORREF ToColorRef(Color c, COLORREF fallback) noexcept;

}  // namespace tarnwick
