// Where the program's process looks for libraries loaded by name.
#include <windows.h>

#include "marlet/win32/win32_platforms.h"

namespace marlet::win32 {

bool KeepCurrentFolderOutOfLibrarySearch() {
  // Looked up rather than linked: the program's platform level predates it.
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC proc = kernel != nullptr ? GetProcAddress(kernel, "SetDllDirectoryA") : nullptr;
  if (proc == nullptr) return false;
  auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(proc));
  // An empty text takes the current folder out of the search order.
  return setDllDirectory("") != FALSE;
}

}  // namespace marlet::win32
