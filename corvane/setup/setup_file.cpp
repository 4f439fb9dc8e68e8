// Save and Load of the setup sheet: the settings text file on disk.
//
// Saving never leaves a half-written or truncated file behind: the whole text
// is built and the device name checked before anything touches the disk, the
// text goes to a new file in the same folder, and that file takes the place of
// the old one only when it is complete.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "corvane/settings/settings_file.h"
#include "corvane/setup/setup_sheet.h"
#include "tk/platform.h"

namespace corvane::setup {

using namespace tk;
using namespace corvane::settings;
namespace fs = std::filesystem;

namespace {

constexpr const char* kNameMessage =
    "1. Device name must LESS THAN 16 LETTERS\n2. NO SPACES between the letters.";
constexpr const char* kFilter = "Log files (*.log)|*.log|";
constexpr unsigned kBeepHz = 5000;
constexpr unsigned kBeepMs = 100;

void ReportOpenFailure(const std::string& path) {
  Beep(kBeepHz, kBeepMs);
  AfxMessageBox("Failed to open file" + path, MB_OK);
}

// Writes `text` to a new file beside `path`, then moves it over `path`.
bool WriteWholeFile(const std::string& path, const std::string& text) {
  const fs::path target(path);
  fs::path temporary = target;
  temporary += ".saving";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error && fs::is_regular_file(target)) {
    // A platform whose rename does not replace: the new file is complete, so
    // the old one can go now.
    error.clear();
    fs::remove(target, error);
    if (!error) fs::rename(temporary, target, error);
  }
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace

void CDeviceSetupMain::SaveSettingsFile() {
  CFileDialog dialog(false, "log", "CVN_Setting_Prototype", OFN_HIDEREADONLY, kFilter, this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  DeviceSettings s;
  for (int item = 0; item < kItemCount; ++item) s.items[static_cast<std::size_t>(item)] = ReadItem(item);
  s.store = Store();
  if (s.items[kDeviceName].find(' ') != std::string::npos) {
    MessageBox(kNameMessage, "Error Info", MB_OK | MB_ICONSTOP);
    return;
  }
  if (!WriteWholeFile(path, BuildSettingsFileText(s, RowKind()))) {
    ReportOpenFailure(path);
    return;
  }
  MessageBox("File saved.", "File Info", MB_OK | MB_ICONINFORMATION);
}

void CDeviceSetupMain::LoadSettingsFile() {
  CFileDialog dialog(true, "log", "Probent_Setting_Prototype", OFN_HIDEREADONLY, kFilter, this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) {
    ReportOpenFailure(path);
    return;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<std::size_t>(size) > kMaxSettingsFileSize) {
    AfxMessageBox("File size is too large!!", MB_OK);
    return;
  }
  in.seekg(0, std::ios::beg);
  const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();

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
