// The About dialog: a fixed, scrollable, read-only text and a close button.
#pragma once

#include "ui/Form.h"
#include "ui/StdCtrls.h"

namespace tarnwick {

class TAbout : public TForm {
 public:
  explicit TAbout(TComponent* owner);
  ~TAbout() override;
  TMemo* Memo1;
  TButton* btnClose;
  void btnCloseClick(TObject* sender);
};

// The dialog of the About button while it exists; cleared when it is
// released, so nothing ever reads a freed dialog through it.
extern TAbout* About;

}  // namespace tarnwick
