// The owner-drawn push button: silver face, orange while the mouse is over
// it (tracked with TrackMouseEvent so leaving is noticed), sunken while
// pressed, the accelerator letter underlined.
#include "ui/StdCtrls.h"

#include "ui/Form.h"
#include "ui/Handle.h"
#include "ui/ScopeGuard.h"

namespace tarnwick {

void TButton::ApplyDefinition(const ControlDef& def) {
  TWinControl::ApplyDefinition(def);
  modalResult_ = def.modalResult;
}

void TButton::CreateParams(CreateParamsRec& p) {
  p.className = L"BUTTON";
  p.style = BS_OWNERDRAW;
}

void TButton::Click() {
  SetFocus();
  ::SendMessageW(Handle(), BM_CLICK, 0, 0);
}

void TButton::SetHot(bool hot) {
  if (hot_ == hot) return;
  hot_ = hot;
  ::InvalidateRect(Handle(), nullptr, FALSE);
}

LRESULT TButton::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MOUSEMOVE:
      if (!hot_) {
        TRACKMOUSEEVENT tme{};
        tme.cbSize = sizeof(tme);
        tme.dwFlags = TME_LEAVE;
        tme.hwndTrack = Handle();
        ::TrackMouseEvent(&tme);
        SetHot(true);
      }
      break;
    case WM_MOUSELEAVE:
      SetHot(false);
      break;
    case WM_ENABLE:
      if (!wParam) SetHot(false);
      break;
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

bool TButton::HandleReflected(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_DRAWITEM) {
    Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    result = TRUE;
    return true;
  }
  if (msg == WM_COMMAND && (HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == BN_DOUBLECLICKED)) {
    if (modalResult_ != 0) {
      if (TForm* form = ParentForm()) form->SetModalResult(ModalResultOnButton(modalResult_, form->ModalResultValue()));
    }
    if (OnClick) OnClick(this);
    result = 0;
    return true;
  }
  return false;
}

void TButton::Draw(const DRAWITEMSTRUCT& dis) {
  HDC dc = dis.hDC;
  RECT rc = dis.rcItem;
  const bool pressed = (dis.itemState & ODS_SELECTED) != 0;
  const bool disabled = (dis.itemState & ODS_DISABLED) != 0;

  UniqueBrush face(::CreateSolidBrush(hot_ && !disabled ? kHotFace : kFace));
  ::FillRect(dc, &rc, face.get());
  ::DrawEdge(dc, &rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

  RECT text = rc;
  ::InflateRect(&text, -2, -2);
  if (pressed) ::OffsetRect(&text, 1, 1);
  SelectGuard font(dc, FontHandle());
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  std::wstring caption = Text();
  ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);

  if ((dis.itemState & ODS_FOCUS) != 0) {
    RECT focus = rc;
    ::InflateRect(&focus, -4, -4);
    ::DrawFocusRect(dc, &focus);
  }
}

}  // namespace tarnwick
