// marlet.exe: the application object on the real platform.
#include "marlet/ui/marlet_app.h"
#include "marlet/win32/win32_platforms.h"

namespace {

// Before the program makes its objects.
[[maybe_unused]] const bool librarySearchHardened = marlet::win32::KeepCurrentFolderOutOfLibrarySearch();

marlet::PortDriverPlatform& Driver() {
  static std::unique_ptr<marlet::PortDriverPlatform> driver = marlet::win32::MakePortDriverPlatform();
  return *driver;
}

marlet::DeviceInstallPlatform& Installer() {
  static std::unique_ptr<marlet::DeviceInstallPlatform> installer =
      marlet::win32::MakeDeviceInstallPlatform();
  return *installer;
}

marlet::CMarletApp theApp(Driver(), Installer(), marlet::ProgramOutput::Standard());

}  // namespace
