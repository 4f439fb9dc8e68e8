// CUpgradeDlg ("Firmware Upgrade"): the firmware file, the address the boot
// loader is to use and the upgrade period. Path and address are kept in
// "fwupdate.dat" between runs; the period starts at 10 in every run.
#pragma once

#include <cstdint>
#include <string>

#include "tk/controls.h"
#include "tk/dialog.h"

namespace corvane::upgrade {

namespace ids {
constexpr int kUpgradePeriod = 1011;
constexpr int kBrowseIcon = 1134;  // hidden; holds the browse button's icon
constexpr int kFirmwarePath = 1135;
constexpr int kBrowse = 1136;
constexpr int kBootLoaderAddress = 1137;
}  // namespace ids

constexpr int kBrowseIconResource = 140;

const tk::DialogTemplate& UpgradeDialogTemplate();

inline constexpr const char* kMsgStoreUnreadable = "Couldn't find the fwupdate.dat file for reading data!!";
inline constexpr const char* kMsgStoreUnwritable = "Couldn't find the fwupdate.dat file for writing data!!";

class CUpgradeDlg : public tk::CDialog {
 public:
  static constexpr int kPathMaxChars = 128;
  static constexpr int kPeriodLow = 10;
  static constexpr int kPeriodHigh = 1000;

  explicit CUpgradeDlg(tk::CWnd* parent = nullptr);

  std::string m_firmwarePath;
  int m_upgradePeriod = 10;  // seconds per device
  int m_noSelection = 0;     // 1: no list row ticked; the address may be edited
  // The boot-loader address shown (first octet in the high byte); blank until
  // the store or the user gives one.
  std::uint32_t m_bootLoaderAddress = 0;
  bool m_hasBootLoaderAddress = false;

 protected:
  tk::BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override;

 private:
  void LoadStore();
  void OnBrowse();
  bool TakeControls();  // false when the period is refused

  tk::CIPAddressCtrl m_addressCtrl;
  tk::CStatic m_browseIcon;
  tk::CButton m_browseButton;
};

}  // namespace corvane::upgrade
