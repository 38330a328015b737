// The warning shown before a send: six lines and two buttons. OK (1) only
// from "送信を実行"; "キャンセル" and the title-bar close give Cancel (2).
#pragma once

#include "ui/Form.h"
#include "ui/StdCtrls.h"

namespace tarnwick {

class T_FrmConfirm : public TForm {
 public:
  explicit T_FrmConfirm(TComponent* owner);
  TMemo* Memo1;
  TButton* Button1;
  TButton* Button2;
};

}  // namespace tarnwick
