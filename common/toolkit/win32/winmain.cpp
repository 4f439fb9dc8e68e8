// The program entry point: the application object's InitInstance runs the
// program (its main dialog), ExitInstance gives the exit code.
#include "tk/dialog.h"

// clang-format off
#include <windows.h>
// clang-format on

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  tk::CWinApp* app = tk::AfxGetApp();
  if (app == nullptr) return 1;
  app->InitInstance();
  return app->ExitInstance();
}
