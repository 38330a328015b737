// A top-level window built from a form definition: it owns its controls,
// can be shown modelessly or modally, and runs the keyboard interface
// (Tab, arrows, Alt accelerators) of its controls.
#pragma once

#include <stdexcept>
#include <string>

#include "ui/Control.h"
#include "ui/FormDef.h"
#include "ui/ModalResult.h"

namespace tarnwick {

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  // Loading phase. BeginLoading marks the form; every component created
  // with the form as owner until EndLoading is marked too. Build creates
  // the controls of a definition and assigns their properties. EndLoading
  // calls Loaded() on every owned component in order of creation, then on
  // the form.
  void BeginLoading() noexcept;
  void Build(const FormDef& def);
  void EndLoading();

  // The control named `name`, of type T. Throws std::logic_error when the
  // definition has no such control, which is a programming error.
  template <typename T>
  T* Control(const std::string& name) const {
    T* c = dynamic_cast<T*>(FindComponent(name));
    if (c == nullptr) throw std::logic_error("form has no control " + name);
    return c;
  }
  // The control with the given dialog-item id, or null.
  TWinControl* ControlById(int id) const noexcept;

  void SetClientSize(int width, int height) noexcept;
  int DesignClientWidth() const noexcept { return clientWidth_; }
  int DesignClientHeight() const noexcept { return clientHeight_; }
  BorderStyle Border() const noexcept { return border_; }

  void Show();
  void Hide();
  // Title-bar close: a modal form ends its loop with Cancel; the main form
  // ends the program; any other form hides.
  void Close();
  int ShowModal();
  bool IsModal() const noexcept { return modal_; }
  int ModalResultValue() const noexcept { return modalResult_; }
  void SetModalResult(int r) noexcept { modalResult_ = r; }

  // Alt+letter: clicks the visible, enabled button or check box whose
  // caption has that accelerator. True when one was found.
  bool HandleMnemonic(char32_t letter);

 protected:
  void CreateParams(CreateParamsRec& params) override;
  void CreateHandle() override;
  HWND ParentHandleForCreate() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Notification(TComponent* component, Operation operation) override;
  // Makes the control object for one definition entry; the form owns it.
  virtual TWinControl* CreateControl(const ControlDef& def);

 private:
  void FocusFirst();
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  BorderStyle border_ = BorderStyle::Sizeable;
  bool centred_ = true;
  bool modal_ = false;
  int modalResult_ = mrNone;
  HWND lastFocus_ = nullptr;
};

}  // namespace tarnwick
