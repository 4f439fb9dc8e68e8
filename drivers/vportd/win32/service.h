// vportd under the service control manager: the installer registers it as an
// own-process service that starts with the system, so the virtual ports carry
// data before anyone logs on, with one copy for every user.
#pragma once

#include <windows.h>

namespace vportd {

// The service's name, as the installer registers it.
inline constexpr char kServiceName[] = "QnVportd";

// Serves until `stop` is set; the exit status (0 when stopped as asked).
using ServeFunction = int (*)(HANDLE stop);

// Hands the process to the service control manager, which runs `serve` on a
// thread of its own with an event that its stop and shutdown controls set.
// Returns once the service stopped, true with `serve`'s status in *status.
// False when the process was not started as a service: GetLastError() is then
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT (a program started from a console).
// The log goes to vportd.log in the program's folder while it runs as a service.
bool RunAsService(ServeFunction serve, int* status);

}  // namespace vportd
