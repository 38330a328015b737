// clang-format off
// windows.h first: the other system headers build on it.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>
// clang-format on

#include "decor/CaptionButton.h"
#include "decor/CaptionButtonList_win.h"
#include "decor/ClassicFrame_win.h"

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
  UseClassicFrame(HookedWnd());
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
  for (TCustomCaptionButton* b : list.buttons)
    slots.push_back({b->FVisible, b->FSeparatorWidth, b->FRightOffset});
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
    case WM_CAPTURECHANGED:
      // The press was taken away (another window grabbed the mouse, the
      // user switched away): without the capture the release may never
      // come, and a later click in the client area must not count.
      if (FPressed && reinterpret_cast<HWND>(msg.LParam) != HookedWnd()) {
        FPressed = false;
        Paint(FDown);
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
  // The new window starts with the system's frame again.
  UseClassicFrame(HookedWnd());
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

}  // namespace tarnwick
