#include "decor/DecorResources_win.h"
#include "decor/FormAccess_win.h"
#include "decor/FormRoller.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/ScopeGuard.h"

namespace tarnwick {

TFormRoller::TFormRoller(TComponent* owner)
    : TCustomCaptionButton(owner),
      FGlyphRollUp(LoadDecorBitmap(L"CB_ROLLER_UP")),
      FGlyphRollDown(LoadDecorBitmap(L"CB_ROLLER_DOWN")) {
  SetGlyph(FGlyphRollUp.get());
  CaptionButton().SetHint(L"Roll up");
  SystemMenu().SetCaption(L"Roll up");
  SystemMenu().SetPosition(::GetMenuItemCount(GetSystemMenuHandle()));
  SystemMenu().SetSeparators(TMenuSeparators{true, false});
  Repaint();
  hintRollUp_ = L"Roll up";
  hintRollDown_ = L"Roll down";
}

TFormRoller::~TFormRoller() { BeginDestroy(); }

void TFormRoller::SetAnimateSpeed(int value) noexcept {
  animateSpeed_ = value < 0 ? 0 : value > kMaxRollerSpeed ? kMaxRollerSpeed : value;
}

void TFormRoller::SetHintRollUp(const std::wstring& value) {
  if (value == hintRollUp_) return;
  hintRollUp_ = value;
  if (!rollUp_) {
    CaptionButton().SetHint(value);
    SystemMenu().SetCaption(value);
  }
}

void TFormRoller::SetHintRollDown(const std::wstring& value) {
  if (value == hintRollDown_) return;
  hintRollDown_ = value;
  if (rollUp_) {
    CaptionButton().SetHint(value);
    SystemMenu().SetCaption(value);
  }
}

void TFormRoller::SetRemainHeight(int value) {
  value &= 0xFFFF;
  if (value == remainHeight_) return;
  remainHeight_ = value;
  if (rollUp_) ApplyRegion();
}

int TFormRoller::RolledHeight() {
  RollerBorder border = RollerBorder::Sizeable;
  if (auto* form = dynamic_cast<TForm*>(Form())) {
    border = form->Border() == BorderStyle::Dialog ? RollerBorder::Dialog : RollerBorder::Sizeable;
  } else if ((GetFormStyle() & WS_THICKFRAME) == 0) {
    border = RollerBorder::Single;
  }
  return tarnwick::RolledHeight(::GetSystemMetrics(SM_CYCAPTION), ::GetSystemMetrics(SM_CYDLGFRAME),
                                ::GetSystemMetrics(SM_CYFRAME), border, remainHeight_);
}

void TFormRoller::ApplyRegion() {
  RECT wr{};
  ::GetWindowRect(HookedWnd(), &wr);
  HRGN region = ::CreateRectRgn(0, 0, wr.right - wr.left, RolledHeight());
  // Once handed over the region belongs to the window system.
  if (::SetWindowRgn(HookedWnd(), region, TRUE) == 0) {
    ::DeleteObject(region);
    return;
  }
  FRegion = region;
}

void TFormRoller::Animate(const std::vector<int>& frames) {
  for (int height : frames) {
    SetFormClientHeight(Form(), height);
    Application().ProcessMessages();
    ::Sleep(static_cast<DWORD>(animateSpeed_));
  }
}

void TFormRoller::SetRollUp(bool value) {
  if (value == rollUp_ || FBusy) return;
  FBusy = true;
  // An error inside the animation must not leave every later roll ignored.
  struct BusyReset {
    bool& flag;
    ~BusyReset() { flag = false; }
  } busyReset{FBusy};

  if (!value) {
    rollUp_ = false;
    RECT wr{};
    ::GetWindowRect(HookedWnd(), &wr);
    HRGN last = ::CreateRectRgn(0, 0, wr.right - wr.left, RolledHeight() - 3);
    if (::SetWindowRgn(HookedWnd(), last, TRUE) == 0) ::DeleteObject(last);
    ::SetWindowRgn(HookedWnd(), nullptr, TRUE);
    FRegion = nullptr;
  }
  if (animate_) {
    if (value) {
      FSavedClientHeight = FormClientHeight(Form());
      Animate(RollUpFrames(FSavedClientHeight, remainHeight_, animateSpeed_));
      // The window may not shrink as far as asked; the strip is what it is.
      remainHeight_ = FormClientHeight(Form());
    } else {
      if (remainHeight_ > FSavedClientHeight) FSavedClientHeight = remainHeight_;
      Animate(RollDownFrames(FSavedClientHeight, remainHeight_, animateSpeed_));
    }
  }
  if (value) {
    rollUp_ = true;
    ApplyRegion();
  }
  if (rollUp_) {
    SetGlyph(FGlyphRollDown.get());
    CaptionButton().SetHint(hintRollDown_);
  } else {
    SetGlyph(FGlyphRollUp.get());
    CaptionButton().SetHint(hintRollUp_);
  }
  SystemMenu().SetCaption(CaptionButton().GetHint());
  if (OnRollerChanged) OnRollerChanged(this, value);
}

void TFormRoller::Execute() {
  TCustomCaptionButton::Execute();
  SetRollUp(!rollUp_);
}

void TFormRoller::DrawRolledBorder() {
  RECT wr{};
  ::GetWindowRect(HookedWnd(), &wr);
  const int width = wr.right - wr.left;
  const int rolled = RolledHeight();
  WindowDC dc(HookedWnd(), WindowDC::Whole);
  if (!dc) return;
  {
    UniquePen pen(::CreatePen(PS_SOLID, 0, ::GetSysColor(COLOR_BTNFACE)));
    SelectGuard use(dc.get(), pen.get());
    ::MoveToEx(dc.get(), 1, rolled - 3, nullptr);
    ::LineTo(dc.get(), width - 1, rolled - 3);
  }
  RECT edge{0, 0, width, rolled};
  ::DrawEdge(dc.get(), &edge, EDGE_RAISED, BF_LEFT | BF_RIGHT | BF_BOTTOM);
}

void TFormRoller::AfterHookedMessage(THookMessage& msg) {
  TCustomCaptionButton::AfterHookedMessage(msg);
  if (!rollUp_) return;
  switch (msg.Msg) {
    case WM_SIZE:
      ApplyRegion();  // the strip follows the new width
      break;
    case WM_PAINT:
    case WM_NCPAINT:
      DrawRolledBorder();
      break;
    case WM_NCHITTEST:
      msg.Result = RolledHitTestCode(static_cast<int>(msg.Result));
      break;
    default:
      break;
  }
}

void TFormRoller::HookRestored() {
  TCustomCaptionButton::HookRestored();
  if (rollUp_) ApplyRegion();
}

}  // namespace tarnwick
