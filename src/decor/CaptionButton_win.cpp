#include "decor/CaptionButton.h"

#include <windowsx.h>
#include <commctrl.h>

#include "decor/CaptionButtonList_win.h"

namespace tarnwick {

using caption_registry::FindFormList;

// ---------------------------------------------------------------------------
// Construction and destruction

TCustomCaptionButton::TCustomCaptionButton(TComponent* owner)
    : TcbFormHookComponent(owner),
      captionButton_(std::make_unique<TACaptionButton>(*this)),
      systemMenu_(std::make_unique<TSystemMenu>(*this)) {
  caption_registry::ButtonCreated();
  FButtonId = caption_registry::NextButtonId();
  TacRealButtonsList& list = FindFormList(this);
  if (list.IndexOf(this) < 0) list.buttons.push_back(this);
  Relayout(true);
  // A button made outside a form definition gets no Loaded call; without a
  // tool now it would never show its hint.
  if (owner == nullptr || !owner->IsLoading()) AddTool();
}

TCustomCaptionButton::~TCustomCaptionButton() {
  BeginDestroy();
  try {
    CaptionButton().SetVisible(false);
    if (TacRealButtonsList* rest = caption_registry::Remove(this)) {
      if (!rest->buttons.empty()) rest->buttons.front()->Relayout(true);
    }
    DeleteTool();
    systemMenu_->Remove();
  } catch (...) {
    // Nothing can be reported from a destructor; the window may be gone.
  }
  caption_registry::ButtonDestroyed();
}

void TCustomCaptionButton::Loaded() {
  TcbFormHookComponent::Loaded();
  TacRealButtonsList& list = FindFormList(this);
  std::vector<int> keys;
  for (TCustomCaptionButton* b : list.buttons) keys.push_back(b->FPendingOrder);
  if (SortByPendingOrder(list.buttons, keys)) Relayout(true);
  AddTool();
}

// ---------------------------------------------------------------------------
// State

void TCustomCaptionButton::SetDown(bool value) {
  if (!FAllowToggle) value = false;
  if (value == FDown) return;
  FDown = value;
  if (systemMenu_->GetApplyToMenu()) systemMenu_->SetChecked(value);
  Repaint();
}

void TCustomCaptionButton::SetAllowToggle(bool value) {
  if (value == FAllowToggle) return;
  FAllowToggle = value;
  if (!value && !FPressed) SetDown(false);
}

namespace {
HBITMAP CopyPicture(HBITMAP source) {
  if (source == nullptr) return nullptr;
  return static_cast<HBITMAP>(::CopyImage(source, IMAGE_BITMAP, 0, 0, 0));
}
}  // namespace

void TCustomCaptionButton::SetGlyph(HBITMAP bitmap) {
  if (bitmap == FGlyph.get()) return;
  FGlyph.reset(CopyPicture(bitmap));
  Repaint();
}

void TCustomCaptionButton::SetGlyphDown(HBITMAP bitmap) {
  if (bitmap == FGlyphDown.get()) return;
  FGlyphDown.reset(CopyPicture(bitmap));
  Repaint();
}

void TCustomCaptionButton::SetGlyphChar(wchar_t c) {
  FGlyphChar = c;
  Repaint();
}

void TCustomCaptionButton::SetGlyphTransparent(bool value) {
  FGlyphTransparent = value;
  Repaint();
}

void TCustomCaptionButton::Repaint() { Paint(FDown); }

// ---------------------------------------------------------------------------
// Order and layout

void TCustomCaptionButton::Relayout(bool refresh) {
  TacRealButtonsList& list = FindFormList(this);
  FrameMetrics m;
  m.cxSize = ::GetSystemMetrics(SM_CXSIZE);
  m.cxSmSize = ::GetSystemMetrics(SM_CXSMSIZE);
  const int w = CaptionButtonWidth(m, static_cast<std::uint32_t>(GetFormExStyle()));
  std::vector<LayoutSlot> slots;
  for (TCustomCaptionButton* b : list.buttons) slots.push_back({b->FVisible, b->FSeparatorWidth, b->FRightOffset});
  AssignRightOffsets(slots, w);
  for (std::size_t i = 0; i < slots.size(); ++i) list.buttons[i]->FRightOffset = slots[i].rightOffset;
  if (refresh) RefreshFrame();
}

void TCustomCaptionButton::MoveTo(int newOrder) {
  TacRealButtonsList& list = FindFormList(this);
  const int current = list.IndexOf(this);
  const int target = MoveTargetIndex(current, newOrder, static_cast<int>(list.buttons.size()));
  if (target < 0) return;
  list.buttons.erase(list.buttons.begin() + current);
  list.buttons.insert(list.buttons.begin() + target, this);
  Relayout(true);
}

// ---------------------------------------------------------------------------
// Tooltip

HWND TCustomCaptionButton::TooltipWindow() noexcept { return caption_registry::Tooltip(); }

namespace {
TOOLINFOW MakeToolInfo(HWND form, int id) {
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = form;
  ti.uId = static_cast<UINT_PTR>(id);
  ti.hinst = ::GetModuleHandleW(nullptr);
  return ti;
}
wchar_t kEmptyText[] = L"";
}  // namespace

void TCustomCaptionButton::AddTool() {
  HWND tip = caption_registry::Tooltip();
  if (tip == nullptr) return;
  if (FToolAdded) DeleteTool();
  toolId_ = caption_registry::NextToolId();
  // The tool relays through our own hook (see BeforeHookedMessage) rather
  // than having the tooltip subclass the form: the hook chain rewrites the
  // window procedure and would cut such a subclass out of it.
  TOOLINFOW ti = MakeToolInfo(HookedWnd(), toolId_);
  ti.lpszText = kEmptyText;
  FButtonRect = ButtonPlacement{};
  toolArea_ = ToolRect{};
  ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  FToolAdded = true;
}

int TCustomCaptionButton::CaptionBand() {
  return ::GetSystemMetrics(IsToolWindow(static_cast<std::uint32_t>(GetFormExStyle())) ? SM_CYSMCAPTION
                                                                                        : SM_CYCAPTION);
}

void TCustomCaptionButton::UpdateTool() {
  HWND tip = caption_registry::Tooltip();
  if (tip == nullptr || !FToolAdded) return;
  const bool active = FVisible && FEnabled && FShowHint && !FHint.empty();
  const int menu = ::GetMenu(HookedWnd()) != nullptr ? ::GetSystemMetrics(SM_CYMENU) : 0;
  toolArea_ = TooltipRect(FButtonRect, CaptionBand(), menu, active);
  TOOLINFOW ti = MakeToolInfo(HookedWnd(), toolId_);
  ti.rect = RECT{toolArea_.left, toolArea_.top, toolArea_.right, toolArea_.bottom};
  ti.lpszText = active ? const_cast<wchar_t*>(FHint.c_str()) : kEmptyText;
  ::SendMessageW(tip, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti));
}

void TCustomCaptionButton::DeleteTool() {
  if (!FToolAdded) return;
  if (HWND tip = caption_registry::Tooltip()) {
    TOOLINFOW ti = MakeToolInfo(HookedWnd(), toolId_);
    ::SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  FToolAdded = false;
}

// ---------------------------------------------------------------------------
// Message handling

void TCustomCaptionButton::SetCursorFor(int cursorId) {
  ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(StockCursorResource(cursorId))));
}

void TCustomCaptionButton::ReleasePress() {
  FPressed = false;
  if (::GetCapture() == HookedWnd()) ::ReleaseCapture();
}

void TCustomCaptionButton::BeforeHookedMessage(THookMessage& msg, bool& handled) {
  switch (msg.Msg) {
    case WM_SETCURSOR:
      if (LOWORD(msg.LParam) == FButtonId) {
        SetCursorFor(FDrawnDown ? FCursorDown : FCursor);
        msg.Result = TRUE;
        handled = true;
      }
      break;
    case WM_NCLBUTTONDBLCLK:
      // A double click acts as a second press.
      if (msg.WParam == static_cast<WPARAM>(FButtonId)) msg.Msg = WM_NCLBUTTONDOWN;
      break;
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONUP:
      handled = msg.WParam == static_cast<WPARAM>(FButtonId);
      break;
    default:
      break;
  }
  // Let the tooltip see the pointer over the title bar, in client terms.
  if (FToolAdded && (msg.Msg == WM_NCMOUSEMOVE || msg.Msg == WM_NCLBUTTONDOWN)) {
    if (HWND tip = caption_registry::Tooltip()) {
      POINT pt{GET_X_LPARAM(msg.LParam), GET_Y_LPARAM(msg.LParam)};
      ::ScreenToClient(HookedWnd(), &pt);
      MSG relay{};
      relay.hwnd = HookedWnd();
      relay.message = msg.Msg == WM_NCMOUSEMOVE ? UINT{WM_MOUSEMOVE} : UINT{WM_LBUTTONDOWN};
      relay.lParam = MAKELPARAM(pt.x, pt.y);
      relay.time = static_cast<DWORD>(::GetMessageTime());
      relay.pt = pt;
      ::SendMessageW(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relay));
    }
  }
}

void TCustomCaptionButton::AfterHookedMessage(THookMessage& msg) {
  switch (msg.Msg) {
    case WM_GETTEXT:
      // The caption was redrawn over the button; paint it again afterwards.
      ::PostMessageW(UtilityWnd(), WM_CAPTIONBTN_REPAINT, 0, 0);
      break;
    case WM_NCHITTEST: {
      if (msg.Result == HTCAPTION && FVisible && FButtonRect.paintable) {
        POINT pt{GET_X_LPARAM(msg.LParam), GET_Y_LPARAM(msg.LParam)};
        ::ScreenToClient(HookedWnd(), &pt);
        if (HitsButton(FButtonRect, pt.x, pt.y)) {
          if (FPressed && !FDrawnDown) Paint(true);
          msg.Result = FButtonId;
          break;
        }
      }
      if (!FDown && FDrawnDown) Paint(false);
      break;
    }
    case WM_NCPAINT:
    case WM_NCACTIVATE:
      Repaint();
      UpdateTool();
      break;
    case WM_NCLBUTTONDOWN:
      if (!FEnabled) break;
      if (msg.WParam == static_cast<WPARAM>(FButtonId)) {
        Paint(true);
        SetCursorFor(FCursorDown);
        if (!FPressed) {
          FPressed = true;
          ::SetCapture(HookedWnd());
        }
      } else {
        if (!FDown) Paint(false);
        if (FPressed) ReleasePress();
      }
      break;
    case WM_NCLBUTTONUP:
    case WM_LBUTTONUP:
      if (!FPressed) break;
      ReleasePress();
      // Only a release over the button (last painted sunken) is a click.
      if (FDrawnDown) {
        BeforeButtonClick();
        if (FAllowToggle) {
          SetDown(!FDown);
          if (FDown)
            ButtonDown();
          else
            ButtonUp();
        }
        ButtonClick();
      }
      if (!FAllowToggle) Paint(false);
      break;
    case WM_SYSCOMMAND:
      if (msg.WParam != static_cast<WPARAM>(FButtonId)) break;
      BeforeMenuClick();
      if (FAllowToggle) {
        SetDown(!FDown);
        systemMenu_->SetChecked(FDown);
        if (FDown)
          ButtonDown();
        else
          ButtonUp();
      }
      MenuClick();
      break;
    case WM_MOUSEMOVE:
      if (FPressed && !FDown && FDrawnDown) {
        int band = CaptionBand();
        if (::GetMenu(HookedWnd()) != nullptr) band += ::GetSystemMetrics(SM_CYMENU);
        if (LeftCaptionBand(GET_Y_LPARAM(msg.LParam), band)) Paint(FDown);
      }
      break;
    case WM_CAPTIONBTN_REPAINT:
      Repaint();
      break;
    case WM_CAPTIONBTN_SYSMENU:
      systemMenu_->Reapply();
      break;
    default:
      break;
  }
}

void TCustomCaptionButton::UtilityWndProc(THookMessage& msg) {
  TcbFormHookComponent::UtilityWndProc(msg);
  if (msg.Msg == WM_CAPTIONBTN_REPAINT) Repaint();
}

void TCustomCaptionButton::HookRestored() {
  // The form's list was keyed by the old window; it follows the window.
  if (TacRealButtonsList* list = caption_registry::ListHolding(this)) list->wnd = HookedWnd();
  DeleteTool();
  AddTool();
  Relayout(true);
  systemMenu_->Reapply();
}

// ---------------------------------------------------------------------------
// Click operations

void TCustomCaptionButton::BeforeButtonClick() {}
void TCustomCaptionButton::ButtonClick() {
  if (OnButtonClick) OnButtonClick(this);
  Execute();
}
void TCustomCaptionButton::BeforeMenuClick() {}
void TCustomCaptionButton::MenuClick() {
  if (OnMenuClick) OnMenuClick(this);
  Execute();
}
void TCustomCaptionButton::Execute() {
  if (OnExecute) OnExecute(this);
}
void TCustomCaptionButton::ButtonDown() {
  if (OnButtonDown) OnButtonDown(this);
}
void TCustomCaptionButton::ButtonUp() {
  if (OnButtonUp) OnButtonUp(this);
}

// ---------------------------------------------------------------------------
// TACaptionButton

int TACaptionButton::GetBtnOrder() const {
  const TacRealButtonsList* list = caption_registry::ListHolding(&button_);
  return list == nullptr ? -1 : list->IndexOf(&button_);
}

void TACaptionButton::SetBtnOrder(int value) {
  if (value < -1) value = -1;
  if (value > 32767) value = 32767;
  if (button_.IsLoading())
    button_.FPendingOrder = value;
  else
    button_.MoveTo(value);
}

int TACaptionButton::GetCursor() const { return button_.FCursor; }
void TACaptionButton::SetCursor(int value) { button_.FCursor = value; }
int TACaptionButton::GetCursorDown() const { return button_.FCursorDown; }
void TACaptionButton::SetCursorDown(int value) { button_.FCursorDown = value; }
bool TACaptionButton::GetEnabled() const { return button_.FEnabled; }

void TACaptionButton::SetEnabled(bool value) {
  if (value == button_.FEnabled) return;
  button_.FEnabled = value;
  ::EnableMenuItem(button_.GetSystemMenuHandle(), static_cast<UINT>(button_.FButtonId),
                   MF_BYCOMMAND | (value ? MF_ENABLED : MF_GRAYED));
  button_.UpdateTool();
  button_.Repaint();
}

const std::wstring& TACaptionButton::GetHint() const { return button_.FHint; }

void TACaptionButton::SetHint(const std::wstring& value) {
  if (value == button_.FHint) return;
  button_.FHint = value;
  button_.UpdateTool();
}

int TACaptionButton::GetSeparatorWidth() const { return button_.FSeparatorWidth; }

void TACaptionButton::SetSeparatorWidth(int value) {
  const std::uint8_t stored = StoredSeparatorWidth(value);
  if (stored == button_.FSeparatorWidth) return;
  button_.FSeparatorWidth = stored;
  button_.Relayout(true);
}

bool TACaptionButton::GetShowHint() const { return button_.FShowHint; }

void TACaptionButton::SetShowHint(bool value) {
  if (value == button_.FShowHint) return;
  button_.FShowHint = value;
  button_.UpdateTool();
}

bool TACaptionButton::GetVisible() const { return button_.FVisible; }

void TACaptionButton::SetVisible(bool value) {
  button_.FVisible = value;
  button_.UpdateTool();
  button_.Relayout(true);
}

}  // namespace tarnwick
