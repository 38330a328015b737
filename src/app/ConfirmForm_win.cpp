#include "app/ConfirmForm.h"

#include "app/FormDefinitions.h"

namespace tarnwick {

T_FrmConfirm::T_FrmConfirm(TComponent* owner) : TForm(owner) {
  BeginLoading();
  Build(ConfirmFormDefinition());
  Memo1 = Control<TMemo>("Memo1");
  Button1 = Control<TButton>("Button1");
  Button2 = Control<TButton>("Button2");
  EndLoading();
}

}  // namespace tarnwick
