// The device manager's application object and, for now, its main dialog with
// the program's title and banner. Later parts give the window its controls.
#include "tk/tk.h"

namespace {

constexpr int kIconMain = 128;
constexpr int kBitmapBanner = 146;

const tk::DialogTemplate& MainTemplate() {
  static const tk::DialogTemplate tmpl = [] {
    tk::DialogTemplate t;
    t.caption = "Corvane";
    t.rect = {0, 0, 260, 90};
    t.style |= tk::WS_MINIMIZEBOX;
    t.controls = {
        tk::Picture(kBitmapBanner, {7, 7, 167, 34}),
        tk::PushButton(tk::IDCANCEL, "Close", {203, 69, 253, 83}).Default(),
    };
    return t;
  }();
  return tmpl;
}

class CCorvaneDlg : public tk::CDialog {
 public:
  CCorvaneDlg() : tk::CDialog(MainTemplate()), m_icon(tk::LoadAppIcon(kIconMain)) {}

 protected:
  tk::BOOL OnInitDialog() override {
    tk::CDialog::OnInitDialog();
    SetIcon(m_icon, true);
    SetIcon(m_icon, false);
    SetWindowText("Corvane 2.9");
    return tk::TRUE;
  }

 private:
  tk::HICON m_icon;
};

class CCorvaneApp : public tk::CWinApp {
 public:
  CCorvaneApp() : tk::CWinApp("Corvane") {}

  tk::BOOL InitInstance() override {
    CCorvaneDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // The program ends when the main dialog closes.
    return tk::FALSE;
  }
};

CCorvaneApp theApp;

}  // namespace
