#include "marlet/ui/marlet_app.h"

#include "marlet/ui/marlet_dlg.h"

namespace marlet {

CMarletApp::CMarletApp(PortDriverPlatform& driver, DeviceInstallPlatform& installer, ProgramOutput output)
    : tk::CWinApp("Marlet"), m_driver(driver), m_installer(installer), m_output(std::move(output)) {}

tk::BOOL CMarletApp::InitInstance() {
  if (!tk::SocketsStartup(1, 1)) {
    tk::AfxMessageBox("Windows sockets initialization failed.");
    return tk::FALSE;
  }
  PortDriverChannel channel(m_driver, m_output);
  CMarletDlg dlg(channel, m_installer, m_output.exitProgram);
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  tk::SocketsCleanup();
  // The program ends when the main window closes.
  return tk::FALSE;
}

}  // namespace marlet
