// CMarletApp: starts the sockets library and runs the main window until it closes.
#pragma once

#include "marlet/driver/port_driver_channel.h"
#include "marlet/install/install_platform.h"
#include "tk/tk.h"

namespace marlet {

class CMarletApp : public tk::CWinApp {
 public:
  CMarletApp(PortDriverPlatform& driver, DeviceInstallPlatform& installer, ProgramOutput output);
  tk::BOOL InitInstance() override;

 private:
  PortDriverPlatform& m_driver;
  DeviceInstallPlatform& m_installer;
  ProgramOutput m_output;
};

}  // namespace marlet
