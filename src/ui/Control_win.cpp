#include "ui/Control.h"

#include <algorithm>

#include "base/TextCodec.h"
#include "ui/Application.h"
#include "ui/Font.h"
#include "ui/Form.h"
#include "ui/OSError.h"

namespace tarnwick {
namespace {
// The window property that binds a window to its control object. A
// property rather than GWLP_USERDATA, which system classes may use.
constexpr const wchar_t* kControlProp = L"TarnwickControl";
}  // namespace

COLORREF ToColorRef(Color c, COLORREF fallback) noexcept {
  switch (c.kind) {
    case Color::Rgb:
      return RGB(c.r, c.g, c.b);
    case Color::ButtonFace:
      return ::GetSysColor(COLOR_BTNFACE);
    case Color::Window:
      return ::GetSysColor(COLOR_WINDOW);
    case Color::Default:
      break;
  }
  return fallback;
}

TWinControl::TWinControl(TComponent* owner) : TComponent(owner) {}

TWinControl::~TWinControl() {
  BeginDestroy();
  for (TWinControl* child : children_) child->parent_ = nullptr;
  children_.clear();
  if (parent_ != nullptr) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent_ = nullptr;
  }
  DestroyHandle();
}

TWinControl* TWinControl::FromHandle(HWND wnd) noexcept {
  if (wnd == nullptr) return nullptr;
  return static_cast<TWinControl*>(::GetPropW(wnd, kControlProp));
}

HWND TWinControl::Handle() {
  if (handle_ == nullptr) CreateHandle();
  return handle_;
}

void TWinControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  if (parent_ != nullptr) {
    parent_->children_.push_back(this);
    if (handle_ != nullptr && parent_->handle_ != nullptr) ::SetParent(handle_, parent_->handle_);
  }
}

TForm* TWinControl::ParentForm() noexcept {
  TWinControl* c = this;
  while (c->parent_ != nullptr) c = c->parent_;
  return dynamic_cast<TForm*>(c);
}

void TWinControl::SetBounds(const Rect& r) {
  bounds_ = r;
  if (handle_ != nullptr) {
    ::SetWindowPos(handle_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TWinControl::SetAlign(Align a) {
  align_ = a;
  if (parent_ != nullptr && parent_->handle_ != nullptr) parent_->Realign();
}

int TWinControl::ClientWidth() {
  RECT rc{};
  ::GetClientRect(Handle(), &rc);
  return rc.right - rc.left;
}

int TWinControl::ClientHeight() {
  RECT rc{};
  ::GetClientRect(Handle(), &rc);
  return rc.bottom - rc.top;
}

std::wstring TWinControl::Text() const {
  if (handle_ == nullptr) return text_;
  int length = ::GetWindowTextLengthW(handle_);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  int got = ::GetWindowTextW(handle_, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

void TWinControl::SetText(const std::wstring& text) {
  text_ = text;
  if (handle_ != nullptr) ::SetWindowTextW(handle_, text_.c_str());
}

void TWinControl::SetFont(const FontDef& font) {
  font_ = font;
  if (handle_ != nullptr) ::SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), TRUE);
}

FontDef TWinControl::EffectiveFont() const {
  for (const TWinControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->font_.Inherits()) return c->font_;
  }
  FontDef fallback;
  fallback.face = "MS P ゴシック";
  fallback.height = 12;
  return fallback;
}

HFONT TWinControl::FontHandle() const { return FontFor(EffectiveFont()); }

void TWinControl::SetColor(Color c) {
  color_ = c;
  if (handle_ != nullptr) ::InvalidateRect(handle_, nullptr, TRUE);
}

COLORREF TWinControl::EffectiveBackground() const {
  for (const TWinControl* c = this; c != nullptr; c = c->parent_) {
    if (c->color_.IsSet()) return ToColorRef(c->color_, 0);
  }
  return ::GetSysColor(COLOR_BTNFACE);
}

HBRUSH TWinControl::BackgroundBrush() {
  COLORREF want = EffectiveBackground();
  if (!brush_ || brushColor_ != want) {
    brush_.reset(::CreateSolidBrush(want));
    brushColor_ = want;
  }
  return brush_.get();
}

HBRUSH TWinControl::CtlColor(HDC dc, UINT msg) {
  FontDef f = EffectiveFont();
  if (f.color.IsSet()) ::SetTextColor(dc, ToColorRef(f.color, 0));
  // Edit boxes keep the system's window colour unless given their own.
  if (msg == WM_CTLCOLOREDIT && !color_.IsSet()) return nullptr;
  ::SetBkColor(dc, EffectiveBackground());
  return BackgroundBrush();
}

void TWinControl::SetVisible(bool v) {
  visible_ = v;
  if (handle_ != nullptr) ::ShowWindow(handle_, v ? SW_SHOWNA : SW_HIDE);
}

bool TWinControl::Enabled() const { return handle_ != nullptr ? ::IsWindowEnabled(handle_) != FALSE : enabled_; }

void TWinControl::SetEnabled(bool e) {
  enabled_ = e;
  if (handle_ != nullptr) ::EnableWindow(handle_, e ? TRUE : FALSE);
}

void TWinControl::SetFocus() { ::SetFocus(Handle()); }

bool TWinControl::Focused() const { return handle_ != nullptr && ::GetFocus() == handle_; }

Rect TWinControl::AlignArea() {
  RECT rc{};
  if (handle_ != nullptr) ::GetClientRect(handle_, &rc);
  return Rect{0, 0, rc.right - rc.left, rc.bottom - rc.top};
}

void TWinControl::Realign() {
  if (handle_ == nullptr || children_.empty()) return;
  std::vector<AlignItem> items;
  items.reserve(children_.size());
  for (TWinControl* c : children_) items.push_back({c->align_, c->bounds_});
  std::vector<Rect> placed = AlignChildren(AlignArea(), items);
  for (std::size_t i = 0; i < children_.size(); ++i) {
    TWinControl* c = children_[i];
    if (c->align_ == Align::None) continue;
    c->bounds_ = placed[i];
    if (c->handle_ != nullptr) {
      ::SetWindowPos(c->handle_, nullptr, placed[i].left, placed[i].top, placed[i].width, placed[i].height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

void TWinControl::ApplyTabOrder() {
  std::vector<int> orders;
  for (TWinControl* c : children_) orders.push_back(c->tabOrder_);
  HWND after = HWND_TOP;
  for (std::size_t i : TabSequence(orders)) {
    HWND wnd = children_[i]->handle_;
    if (wnd == nullptr) continue;
    ::SetWindowPos(wnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = wnd;
  }
}

HWND TWinControl::ParentHandleForCreate() { return parent_ != nullptr ? parent_->Handle() : nullptr; }

void TWinControl::CreateHandle() {
  CreateParamsRec p;
  CreateParams(p);
  HWND parentWnd = ParentHandleForCreate();
  if (handle_ != nullptr) return;  // creating the parent created us too
  DWORD style = p.style;
  if (parent_ != nullptr) style |= WS_CHILD;
  if (visible_ && parent_ != nullptr) style |= WS_VISIBLE;
  if (!enabled_) style |= WS_DISABLED;
  if (parent_ != nullptr && tabOrder_ >= 0 && (p.exStyle & WS_EX_CONTROLPARENT) == 0) style |= WS_TABSTOP;
  HMENU menuOrId = parent_ != nullptr ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)) : nullptr;
  HWND wnd = ::CreateWindowExW(p.exStyle, p.className, text_.c_str(), style, bounds_.left, bounds_.top,
                               bounds_.width, bounds_.height, parentWnd, menuOrId, Application().Instance(),
                               p.ownClass ? this : nullptr);
  if (wnd == nullptr) RaiseLastOSError("CreateWindowExW");
  if (!p.ownClass) {
    Bind(wnd);
    oldProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::SubclassProc)));
  }
  HandleCreated();
}

void TWinControl::HandleCreated() {
  ::SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
  for (TWinControl* child : children_) child->Handle();
  Realign();
  ApplyTabOrder();
}

void TWinControl::DestroyHandle() noexcept {
  if (handle_ == nullptr) return;
  HWND wnd = handle_;
  ::DestroyWindow(wnd);  // WM_NCDESTROY detaches us
  if (handle_ == wnd) Detach();
}

void TWinControl::Bind(HWND wnd) noexcept {
  handle_ = wnd;
  ::SetPropW(wnd, kControlProp, this);
}

void TWinControl::Detach() noexcept {
  if (handle_ == nullptr) return;
  ::RemovePropW(handle_, kControlProp);
  if (oldProc_ != nullptr) {
    ::SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
    oldProc_ = nullptr;
  }
  handle_ = nullptr;
  for (TWinControl* child : children_) {
    // Windows destroys child windows with their parent.
    if (child->handle_ != nullptr && !::IsWindow(child->handle_)) child->Detach();
  }
}

void TWinControl::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
}

bool TWinControl::HandleReflected(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

bool TWinControl::Reflect(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) noexcept {
  // The control's own handler raised it, so the control is the sender; the
  // message counts as handled either way.
  return Application().Guard(
      this, [&] { return HandleReflected(msg, wParam, lParam, result); }, true);
}

void TWinControl::ApplyDefinition(const ControlDef& def) {
  SetName(def.name);
  id_ = def.id;
  bounds_ = def.bounds;
  align_ = def.align;
  tabOrder_ = def.tabOrder;
  text_ = Utf8ToWide(def.text);
  font_ = def.font;
  color_ = def.color;
}

LRESULT TWinControl::DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (oldProc_ != nullptr) return ::CallWindowProcW(oldProc_, handle_, msg, wParam, lParam);
  return ::DefWindowProcW(handle_, msg, wParam, lParam);
}

}  // namespace tarnwick
