#include "ui/FormDef.h"

#include <stdexcept>

namespace tarnwick {

ControlDef MakeControl(ControlKind kind, std::string name, std::string parent, Rect bounds, std::string text) {
  ControlDef d;
  d.kind = kind;
  d.name = std::move(name);
  d.parent = std::move(parent);
  d.bounds = bounds;
  d.text = std::move(text);
  return d;
}

const ControlDef* FormDef::Find(const std::string& controlName) const noexcept {
  for (const ControlDef& c : controls) {
    if (c.name == controlName) return &c;
  }
  return nullptr;
}

FontDef EffectiveFont(const FormDef& form, const std::string& controlName) {
  std::string current = controlName;
  for (std::size_t depth = 0; depth <= form.controls.size(); ++depth) {
    if (current.empty()) return form.font;
    const ControlDef* c = form.Find(current);
    if (c == nullptr) throw std::invalid_argument("unknown control: " + current);
    if (!c->font.Inherits()) return c->font;
    current = c->parent;
  }
  throw std::invalid_argument("parent chain loops at: " + controlName);
}

std::vector<Rect> LayoutForm(const FormDef& form) {
  std::vector<Rect> out(form.controls.size());
  // Parents come before their children in a definition, so one pass per
  // parent in definition order sees every parent's final size first.
  auto layoutChildrenOf = [&](const std::string& parent, const Rect& client) {
    std::vector<AlignItem> items;
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < form.controls.size(); ++i) {
      if (form.controls[i].parent != parent) continue;
      items.push_back({form.controls[i].align, form.controls[i].bounds});
      which.push_back(i);
    }
    std::vector<Rect> placed = AlignChildren(client, items);
    for (std::size_t k = 0; k < which.size(); ++k) out[which[k]] = placed[k];
  };
  layoutChildrenOf("", Rect{0, 0, form.clientWidth, form.clientHeight});
  for (std::size_t i = 0; i < form.controls.size(); ++i) {
    const ControlDef& c = form.controls[i];
    if (c.kind == ControlKind::Panel || c.kind == ControlKind::GroupBox) {
      layoutChildrenOf(c.name, Rect{0, 0, out[i].width, out[i].height});
    }
  }
  return out;
}

std::vector<std::string> TabSequenceOf(const FormDef& form, const std::string& parent) {
  std::vector<int> orders;
  std::vector<std::string> names;
  for (const ControlDef& c : form.controls) {
    if (c.parent != parent) continue;
    orders.push_back(c.tabOrder);
    names.push_back(c.name);
  }
  std::vector<std::string> out;
  for (std::size_t i : TabSequence(orders)) out.push_back(names[i]);
  return out;
}

}  // namespace tarnwick
