// The device manager's application object: starts the sockets support and
// runs the main window modally; the program ends when it closes.
#include "corvane/ui/main_dlg.h"
#include "tk/tk.h"

namespace {

class CCorvaneApp : public tk::CWinApp {
 public:
  CCorvaneApp() : tk::CWinApp("Corvane") {}

  tk::BOOL InitInstance() override {
    if (!tk::AfxSocketInit()) {
      tk::AfxMessageBox("Windows sockets initialization failed.");
      return tk::FALSE;
    }
    tk::AfxEnableControlContainer();
    // The window embeds the device table; it lives on the heap, not the stack.
    auto dlg = std::make_unique<corvane::ui::CCorvaneDlg>();
    m_pMainWnd = dlg.get();
    dlg->DoModal();
    m_pMainWnd = nullptr;
    return tk::FALSE;
  }
};

CCorvaneApp theApp;

}  // namespace
