// Dialog templates defined as data next to the dialog class that uses them.
//
// The win32 backend turns a DialogTemplate into an in-memory DLGTEMPLATE; the
// headless backend turns it into in-memory control objects. Positions are in
// dialog units, as in a resource script. Styles are the platform's raw values
// (tk/types.h); the builder functions below give each kind its usual defaults
// and the modifiers adjust them, so a template reads like a resource script:
//
//   PushButton(1000, "Search", {7, 7, 57, 21}).Default()
//   Edit(1044, {60, 40, 90, 52}).Disabled()
#pragma once

#include <string>
#include <vector>

#include "tk/types.h"

namespace tk {

enum class ControlKind {
  Button,     // push, default push, check box, radio button, group box (by BS_ style)
  Edit,
  Static,     // text, or a picture when SS_BITMAP / SS_ICON with a resource id
  ComboBox,   // drop-down list
  ListView,
  Progress,
  IPAddress,
  UpDown,
};

struct ControlTemplate {
  int id = -1;  // -1: no id (labels, group boxes, pictures)
  ControlKind kind = ControlKind::Static;
  std::string caption;
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  CRect rect;                       // dialog units
  int resourceId = 0;               // bitmap or icon for pictures
  std::vector<std::string> items;   // initial entries of a combo box, in order

  ControlTemplate& Hidden() { style &= ~WS_VISIBLE; return *this; }
  ControlTemplate& Disabled() { style |= WS_DISABLED; return *this; }
  ControlTemplate& Group() { style |= WS_GROUP; return *this; }
  ControlTemplate& TabStop() { style |= WS_TABSTOP; return *this; }
  ControlTemplate& Default();  // push button becomes the default push button
  ControlTemplate& Style(DWORD add) { style |= add; return *this; }
  ControlTemplate& ExStyle(DWORD add) { exStyle |= add; return *this; }
  ControlTemplate& Items(std::vector<std::string> entries) { items = std::move(entries); return *this; }
};

struct DialogTemplate {
  std::string caption;
  CRect rect;  // dialog units; left/top are ignored for modal dialogs (centred)
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  std::string fontName = "MS Shell Dlg";
  int fontPointSize = 8;
  std::vector<ControlTemplate> controls;

  const ControlTemplate* Find(int id) const;
};

// Builders with the defaults of each control kind.
ControlTemplate PushButton(int id, std::string caption, CRect rect);
ControlTemplate CheckBox(int id, std::string caption, CRect rect);   // BS_AUTOCHECKBOX
ControlTemplate RadioButton(int id, std::string caption, CRect rect);  // BS_AUTORADIOBUTTON; first of a group: .Group()
ControlTemplate GroupBox(std::string caption, CRect rect, int id = -1);
ControlTemplate Label(std::string caption, CRect rect, int id = -1);   // static text
ControlTemplate Edit(int id, CRect rect);                              // ES_AUTOHSCROLL, border, tab stop
ControlTemplate Picture(int resourceId, CRect rect, int id = -1);      // bitmap resource
ControlTemplate IconPicture(int resourceId, CRect rect, int id = -1);  // icon resource
ControlTemplate DropDownList(int id, CRect rect, std::vector<std::string> items = {});
ControlTemplate ListView(int id, CRect rect, DWORD listStyle = LVS_REPORT);
ControlTemplate ProgressBar(int id, CRect rect);
ControlTemplate IPAddress(int id, CRect rect);
ControlTemplate UpDown(int id, CRect rect);

}  // namespace tk
