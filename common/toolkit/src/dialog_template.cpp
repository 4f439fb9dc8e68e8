#include "tk/dialog_template.h"

namespace tk {

namespace {

ControlTemplate Make(int id, ControlKind kind, std::string caption, DWORD style, CRect rect) {
  ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.caption = std::move(caption);
  c.style = WS_CHILD | WS_VISIBLE | style;
  c.rect = rect;
  return c;
}

}  // namespace

ControlTemplate& ControlTemplate::Default() {
  if (kind == ControlKind::Button && (style & BS_TYPEMASK) == BS_PUSHBUTTON) {
    style = (style & ~BS_TYPEMASK) | BS_DEFPUSHBUTTON;
  }
  return *this;
}

const ControlTemplate* DialogTemplate::Find(int id) const {
  for (const ControlTemplate& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

ControlTemplate PushButton(int id, std::string caption, CRect rect) {
  return Make(id, ControlKind::Button, std::move(caption), BS_PUSHBUTTON | WS_TABSTOP, rect);
}

ControlTemplate CheckBox(int id, std::string caption, CRect rect) {
  return Make(id, ControlKind::Button, std::move(caption), BS_AUTOCHECKBOX | WS_TABSTOP, rect);
}

ControlTemplate RadioButton(int id, std::string caption, CRect rect) {
  return Make(id, ControlKind::Button, std::move(caption), BS_AUTORADIOBUTTON, rect);
}

ControlTemplate GroupBox(std::string caption, CRect rect, int id) {
  return Make(id, ControlKind::Button, std::move(caption), BS_GROUPBOX, rect);
}

ControlTemplate Label(std::string caption, CRect rect, int id) {
  return Make(id, ControlKind::Static, std::move(caption), SS_LEFT, rect);
}

ControlTemplate Edit(int id, CRect rect) {
  ControlTemplate c = Make(id, ControlKind::Edit, {}, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, rect);
  return c;
}

ControlTemplate Picture(int resourceId, CRect rect, int id) {
  ControlTemplate c = Make(id, ControlKind::Static, {}, SS_BITMAP, rect);
  c.resourceId = resourceId;
  return c;
}

ControlTemplate IconPicture(int resourceId, CRect rect, int id) {
  ControlTemplate c = Make(id, ControlKind::Static, {}, SS_ICON, rect);
  c.resourceId = resourceId;
  return c;
}

ControlTemplate DropDownList(int id, CRect rect, std::vector<std::string> items) {
  ControlTemplate c = Make(id, ControlKind::ComboBox, {}, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, rect);
  c.items = std::move(items);
  return c;
}

ControlTemplate ListView(int id, CRect rect, DWORD listStyle) {
  ControlTemplate c = Make(id, ControlKind::ListView, {}, listStyle | WS_BORDER | WS_TABSTOP, rect);
  return c;
}

ControlTemplate ProgressBar(int id, CRect rect) {
  return Make(id, ControlKind::Progress, {}, WS_BORDER, rect);
}

ControlTemplate IPAddress(int id, CRect rect) {
  return Make(id, ControlKind::IPAddress, {}, WS_TABSTOP, rect);
}

ControlTemplate UpDown(int id, CRect rect) {
  return Make(id, ControlKind::UpDown, {}, 0, rect);
}

}  // namespace tk
