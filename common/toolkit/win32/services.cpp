// Backend services of the common code: message boxes, file dialogs, child
// enumeration and misuse reports.
#include "win32_platform.h"

namespace tk::detail {

int ShowMessageBox(Handle owner, const std::string& text, const std::string& caption, UINT type) {
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), type);
}

namespace {

// "Name|pattern|Name|pattern|" becomes "Name\0pattern\0Name\0pattern\0\0".
std::string NulSeparatedFilter(const std::string& filter) {
  std::string out = filter;
  for (char& c : out) {
    if (c == '|') c = '\0';
  }
  if (out.empty() || out.back() != '\0') out.push_back('\0');
  out.push_back('\0');
  return out;
}

}  // namespace

int ShowFileDialog(const CFileDialog& dialog, Handle owner, std::string& path) {
  std::vector<char> file(4096, '\0');
  const std::string& initial = dialog.InitialFileName();
  initial.copy(file.data(), std::min(initial.size(), file.size() - 1));
  const std::string filter = NulSeparatedFilter(dialog.Filter());

  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = static_cast<HWND>(owner);
  ofn.lpstrFilter = dialog.Filter().empty() ? nullptr : filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = dialog.DefaultExt().empty() ? nullptr : dialog.DefaultExt().c_str();
  ofn.Flags = dialog.Flags() | OFN_EXPLORER;
  BOOL ok = dialog.IsOpen() ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
  if (!ok) return IDCANCEL;
  path = file.data();
  return IDOK;
}

std::vector<Handle> ChildWindows(Handle parent) {
  std::vector<Handle> children;
  if (parent == nullptr) return children;
  // Direct children in Z order, which for dialog controls is the template order.
  for (HWND h = GetWindow(static_cast<HWND>(parent), GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    children.push_back(h);
  }
  return children;
}

void ReportMisuse(const std::string& what) {
  OutputDebugStringA(("tk misuse: " + what + "\n").c_str());
}

}  // namespace tk::detail
