// Save and Load of the setup sheet: the settings text file on disk.
//
// Saving never leaves a half-written or truncated file behind: the whole text
// is built and the device name checked before anything touches the disk, the
// text goes to a new file in the same folder, and that file takes the place of
// the old one only when it is complete.
#include "corvane/settings/settings_file.h"
#include "corvane/setup/setup_sheet.h"
#include "fileio/whole_file.h"
#include "tk/platform.h"

namespace corvane::setup {

using namespace tk;
using namespace corvane::settings;

namespace {

constexpr const char* kFilter = "Log files (*.log)|*.log|";
constexpr unsigned kBeepHz = 5000;
constexpr unsigned kBeepMs = 100;

void ReportOpenFailure(const std::string& path) {
  Beep(kBeepHz, kBeepMs);
  AfxMessageBox("Failed to open file" + path, MB_OK);
}

}  // namespace

void CDeviceSetupMain::SaveSettingsFile() {
  CFileDialog dialog(false, "log", "CVN_Setting_Prototype", OFN_HIDEREADONLY, kFilter, this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  DeviceSettings s;
  for (int item = 0; item < kItemCount; ++item) s.items[static_cast<std::size_t>(item)] = ReadItem(item);
  s.store = Store();
  if (const auto fault = NameFileFault(s.items[kDeviceName])) {
    MessageBox(fault->c_str(), "Error Info", MB_OK | MB_ICONSTOP);
    return;
  }
  if (fileio::WriteWholeFile(path, BuildSettingsFileText(s, RowKind())) != fileio::FileFault::None) {
    ReportOpenFailure(path);
    return;
  }
  MessageBox("File saved.", "File Info", MB_OK | MB_ICONINFORMATION);
}

void CDeviceSetupMain::LoadSettingsFile() {
  CFileDialog dialog(true, "log", "Probent_Setting_Prototype", OFN_HIDEREADONLY, kFilter, this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  const fileio::ReadResult read = fileio::ReadWholeFile(path, kMaxSettingsFileSize);
  if (read.fault == fileio::FileFault::TooLarge) {
    AfxMessageBox("File size is too large!!", MB_OK);
    return;
  }
  if (read.fault != fileio::FileFault::None) {
    ReportOpenFailure(path);
    return;
  }
  const std::string& data = read.data;

  const int lines = FileLineCount(RowKind());
  const auto values = ReadFileValues(data, lines);
  bool missing = false;
  for (int i = 0; i < lines; ++i) {
    const auto& value = values[static_cast<std::size_t>(i)];
    if (!value) {
      missing = true;  // the file ended early: this setting stays as it is
      continue;
    }
    const bool applied = RowKind() == kSinglePortRow ? ApplyItem(i, *value) : ApplyFileField(i, *value);
    if (!applied) AfxMessageBox("Item is empty!!", MB_OK);
  }
  // One notice for all the lines a short file lacks.
  if (missing) AfxMessageBox("Item is empty!!", MB_OK);
}

}  // namespace corvane::setup
