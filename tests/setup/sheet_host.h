// A stand-in for the main window: it answers the sheet's questions at opening
// with a record of its own and counts the close notices, and runs the sheet
// modally from inside its own modal loop as the real main window does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "corvane/protocol/packet.h"
#include "corvane/setup/setup_messages.h"
#include "corvane/setup/setup_sheet.h"
#include "tk/headless.h"

namespace setup_test {

using namespace corvane;

inline const tk::DialogTemplate& HostTemplate() {
  static const tk::DialogTemplate tmpl{
      "Host", {0, 0, 100, 50}, tk::WS_POPUP | tk::WS_CAPTION | tk::WS_SYSMENU, "MS Shell Dlg", 8, {}};
  return tmpl;
}

class SheetHost : public tk::CDialog {
 public:
  SheetHost() : CDialog(HostTemplate()), sheet(this) {}

  setup::CDeviceSetupMain sheet;
  std::string hostAddress = "198.51.100.1";
  int tableSlot = 4;
  int rowKind = 11;
  int rowCount = 1;
  int rowNumber = 0;
  std::vector<std::uint8_t> record = std::vector<std::uint8_t>(2000, protocol::kFill);
  int closeNotices = 0;

  void SetRecord(const protocol::Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), record.begin()); }

  // Opens the sheet; `script` plays the user and must end it. Returns the result.
  tk::INT_PTR Run(std::function<void(tk::CPropertySheet&)> script) {
    tk::INT_PTR result = -1;
    tk::headless::ExpectModal("Host", [&](tk::CWnd&) {
      tk::headless::ExpectModal("Device Setup",
                                [&](tk::CWnd& w) { script(static_cast<tk::CPropertySheet&>(w)); });
      result = sheet.DoModal();
      EndDialog(tk::IDOK);
    });
    DoModal();
    return result;
  }

 protected:
  bool OnMessage(tk::UINT msg, tk::WPARAM, tk::LPARAM, tk::LRESULT& result) override {
    auto w = [](const void* p) { return reinterpret_cast<tk::WPARAM>(p); };
    auto l = [](const void* p) { return reinterpret_cast<tk::LPARAM>(p); };
    switch (msg) {
      case setup::kAskHostInfo:
        sheet.SendMessage(setup::kHostInfo, w(&hostAddress), l(&tableSlot));
        break;
      case setup::kAskRowKind:
        sheet.SendMessage(setup::kRowKind, w(&rowKind), l(&rowCount));
        break;
      case setup::kAskRecord:
        sheet.SendMessage(setup::kRecord, w(record.data()), l(&rowNumber));
        break;
      case setup::kSheetClosed:
        ++closeNotices;
        break;
      default:
        return false;
    }
    result = 1;
    return true;
  }
};

}  // namespace setup_test
