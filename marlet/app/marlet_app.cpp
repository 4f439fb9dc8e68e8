// The virtual port manager's application object and, for now, its main dialog with
// the program's title. Later parts give the window its controls.
#include "tk/tk.h"

namespace {

constexpr int kIconMain = 128;

const tk::DialogTemplate& MainTemplate() {
  static const tk::DialogTemplate tmpl = [] {
    tk::DialogTemplate t;
    t.caption = "Marlet";
    t.rect = {0, 0, 260, 90};
    t.style |= tk::WS_MINIMIZEBOX;
    t.controls = {
        tk::IconPicture(kIconMain, {7, 7, 27, 27}),
        tk::PushButton(tk::IDCANCEL, "Close", {203, 69, 253, 83}).Default(),
    };
    return t;
  }();
  return tmpl;
}

class CMarletDlg : public tk::CDialog {
 public:
  CMarletDlg() : tk::CDialog(MainTemplate()), m_icon(tk::LoadAppIcon(kIconMain)) {}

 protected:
  tk::BOOL OnInitDialog() override {
    tk::CDialog::OnInitDialog();
    SetIcon(m_icon, true);
    SetIcon(m_icon, false);
    SetWindowText("Marlet 1.3");
    return tk::TRUE;
  }

 private:
  tk::HICON m_icon;
};

class CMarletApp : public tk::CWinApp {
 public:
  CMarletApp() : tk::CWinApp("Marlet") {}

  tk::BOOL InitInstance() override {
    CMarletDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // The program ends when the main dialog closes.
    return tk::FALSE;
  }
};

CMarletApp theApp;

}  // namespace
