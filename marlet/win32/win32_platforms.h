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

}  // namespace marlet::win32
