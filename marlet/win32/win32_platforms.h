// The real platform behind the port manager's seams: SetupAPI for the COM port
// interfaces and the device installation, CreateFileA / DeviceIoControl for the
// port devices. Built only in the Windows configuration.
#pragma once

#include <memory>

#include "marlet/driver/driver_platform.h"
#include "marlet/install/install_platform.h"

namespace marlet::win32 {

std::unique_ptr<PortDriverPlatform> MakePortDriverPlatform();
std::unique_ptr<DeviceInstallPlatform> MakeDeviceInstallPlatform();

// The program runs elevated: libraries loaded by name from here on, by it or by
// the platform's libraries on its behalf, are never taken from the current
// folder. False when the platform offers no way to say so.
bool KeepCurrentFolderOutOfLibrarySearch();

}  // namespace marlet::win32
