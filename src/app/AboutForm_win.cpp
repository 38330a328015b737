#include "app/AboutForm.h"

#include "app/FormDefinitions.h"

namespace tarnwick {

TAbout* About = nullptr;

TAbout::TAbout(TComponent* owner) : TForm(owner) {
  BeginLoading();
  Build(AboutFormDefinition());
  Memo1 = Control<TMemo>("Memo1");
  btnClose = Control<TButton>("btnClose");
  btnClose->OnClick = [this](TObject* sender) { btnCloseClick(sender); };
  EndLoading();
}

TAbout::~TAbout() {
  if (About == this) About = nullptr;
}

void TAbout::btnCloseClick(TObject*) { Close(); }

}  // namespace tarnwick
