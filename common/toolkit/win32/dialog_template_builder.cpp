// In-memory dialog templates built from the toolkit's DialogTemplate.
//
// Layout (DLGTEMPLATE, then one DLGITEMTEMPLATE per control, each DWORD
// aligned): style, extended style, item count, x, y, cx, cy, menu, class,
// title, and with DS_SETFONT the point size and face name. Strings are wide
// and NUL terminated; 0xFFFF followed by a number stands for an ordinal.
#include "win32_platform.h"

namespace tk::win32 {

namespace {

class TemplateWriter {
 public:
  void Word(unsigned value) { m_words.push_back(static_cast<WORD>(value & 0xFFFF)); }
  void Dword(DWORD value) {
    Word(value & 0xFFFF);
    Word(value >> 16);
  }
  void Short(int value) { Word(static_cast<unsigned>(static_cast<short>(value)) & 0xFFFF); }
  void String(const std::string& text) {
    for (wchar_t c : Widen(text)) Word(static_cast<unsigned>(c));
    Word(0);
  }
  void Ordinal(int value) {
    Word(0xFFFF);
    Word(static_cast<unsigned>(value));
  }
  void AlignDword() {
    if (m_words.size() % 2 != 0) Word(0);
  }
  std::vector<WORD> Take() { return std::move(m_words); }

 private:
  std::vector<WORD> m_words;
};

const char* ClassName(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button:
      return "Button";
    case ControlKind::Edit:
      return "Edit";
    case ControlKind::Static:
      return "Static";
    case ControlKind::ComboBox:
      return "ComboBox";
    case ControlKind::ListView:
      return WC_LISTVIEWA;
    case ControlKind::Progress:
      return PROGRESS_CLASSA;
    case ControlKind::IPAddress:
      return WC_IPADDRESSA;
    case ControlKind::UpDown:
      return UPDOWN_CLASSA;
  }
  return "Static";
}

bool IsPicture(const ControlTemplate& c) {
  DWORD type = c.style & 0x1F;  // SS_TYPEMASK
  return c.kind == ControlKind::Static && c.resourceId != 0 && (type == SS_BITMAP || type == SS_ICON);
}

void WriteControl(TemplateWriter& out, const ControlTemplate& c) {
  out.AlignDword();
  out.Dword(c.style);
  out.Dword(c.exStyle);
  out.Short(c.rect.left);
  out.Short(c.rect.top);
  out.Short(c.rect.Width());
  out.Short(c.rect.Height());
  out.Word(static_cast<unsigned>(c.id) & 0xFFFF);  // -1 (no id) is 0xFFFF, as in a resource script
  out.String(ClassName(c.kind));
  if (IsPicture(c)) {
    out.Ordinal(c.resourceId);  // the dialog manager loads it from the module
  } else {
    out.String(c.caption);
  }
  out.Word(0);  // no creation data
}

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& tmpl, bool centred, DWORD addStyle,
                                      DWORD removeStyle) {
  TemplateWriter out;
  DWORD style = (tmpl.style & ~removeStyle) | addStyle;
  if (centred) style |= DS_CENTER;
  const bool font = (style & DS_SETFONT) != 0;
  out.Dword(style);
  out.Dword(0);
  out.Word(static_cast<unsigned>(tmpl.controls.size()));
  out.Short(centred ? 0 : tmpl.rect.left);
  out.Short(centred ? 0 : tmpl.rect.top);
  out.Short(tmpl.rect.Width());
  out.Short(tmpl.rect.Height());
  out.Word(0);  // no menu
  out.Word(0);  // the dialog class
  out.String(tmpl.caption);
  if (font) {
    out.Word(static_cast<unsigned>(tmpl.fontPointSize));
    out.String(tmpl.fontName);
  }
  for (const ControlTemplate& c : tmpl.controls) WriteControl(out, c);
  return out.Take();
}

void FillControls(HWND dialog, const DialogTemplate& tmpl) {
  for (const ControlTemplate& c : tmpl.controls) {
    if (c.kind != ControlKind::ComboBox || c.items.empty() || c.id == -1) continue;
    HWND combo = GetDlgItem(dialog, c.id);
    for (const std::string& item : c.items)
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
}

void InitControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES | ICC_UPDOWN_CLASS |
                ICC_STANDARD_CLASSES | ICC_TAB_CLASSES;
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

}  // namespace tk::win32
