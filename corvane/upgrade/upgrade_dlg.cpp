// The "Firmware Upgrade" dialog: template, data exchange, the store and browse.
#include "corvane/upgrade/upgrade_dlg.h"

#include "corvane/upgrade/firmware_store.h"

namespace corvane::upgrade {

using namespace tk;

const DialogTemplate& UpgradeDialogTemplate() {
  static const DialogTemplate tmpl{
      .caption = "Firmware Upgrade",
      .rect = {0, 0, 286, 218},
      .controls{
          GroupBox("IP Address for Boot Loader", {7, 7, 140, 38}),
          IPAddress(ids::kBootLoaderAddress, {14, 19, 133, 32}),
          GroupBox("Timer", {146, 7, 279, 38}),
          Label("Upgrade Period ", {152, 21, 204, 31}),
          Edit(ids::kUpgradePeriod, {204, 19, 232, 31}).Style(ES_NUMBER),
          Label("(sec / device)", {234, 21, 276, 31}),
          GroupBox("Production Firmware Path", {7, 44, 279, 74}),
          Edit(ids::kFirmwarePath, {14, 56, 248, 68}),
          PushButton(ids::kBrowse, "", {252, 54, 272, 70}).Style(BS_ICON),
          IconPicture(kBrowseIconResource, {252, 54, 272, 70}, ids::kBrowseIcon).Hidden(),
          Label("Web address", {14, 78, 80, 88}).Hidden(),
          GroupBox("Firmware Upgrade Notes", {7, 90, 279, 176}),
          Label("1. Set a proper IP address with the same segment as the IP address of your PC",
                {14, 102, 272, 122}),
          Label("2. Select a correct QN520xx firmware code", {14, 124, 272, 134}),
          Label("3. Disable Windows Firewall", {14, 138, 272, 148}),
          Label("4. Enable only one network card on your PC", {14, 152, 272, 162}),
          PushButton(IDOK, "Upgrade Firmware", {70, 190, 140, 206}).Default(),
          PushButton(IDCANCEL, "Cancel", {150, 190, 210, 206}),
      },
  };
  return tmpl;
}

CUpgradeDlg::CUpgradeDlg(CWnd* parent) : CDialog(UpgradeDialogTemplate(), parent) {}

void CUpgradeDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Control(pDX, ids::kBootLoaderAddress, m_addressCtrl);
  DDX_Control(pDX, ids::kBrowseIcon, m_browseIcon);
  DDX_Control(pDX, ids::kBrowse, m_browseButton);
  DDX_Text(pDX, ids::kFirmwarePath, m_firmwarePath);
  DDV_MaxChars(pDX, m_firmwarePath, kPathMaxChars);
  DDX_Text(pDX, ids::kUpgradePeriod, m_upgradePeriod);
  DDV_MinMaxInt(pDX, m_upgradePeriod, kPeriodLow, kPeriodHigh);
}

// A missing store keeps the path and the address of the last opening.
void CUpgradeDlg::LoadStore() {
  auto store = ReadFirmwareStore();
  if (!store) {
    MessageBox(kMsgStoreUnreadable, "ERROR");
    return;
  }
  m_firmwarePath = WithBackslashes(store->path);
  m_bootLoaderAddress = StoreAddress(store->addressText);
  m_hasBootLoaderAddress = true;
}

BOOL CUpgradeDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  LoadStore();
  UpdateData(FALSE);
  if (m_hasBootLoaderAddress)
    m_addressCtrl.SetAddress(m_bootLoaderAddress);
  else
    m_addressCtrl.ClearAddress();
  if (m_noSelection == 0) m_addressCtrl.EnableWindow(FALSE);
  m_browseButton.SetIcon(m_browseIcon.GetIcon());
  return TRUE;
}

bool CUpgradeDlg::OnCommand(UINT id, UINT code, Handle control) {
  if (id == static_cast<UINT>(ids::kBrowse) && code == BN_CLICKED) {
    OnBrowse();
    return true;
  }
  return CDialog::OnCommand(id, code, control);
}

void CUpgradeDlg::OnBrowse() {
  CFileDialog dialog(true, "*.bin", {}, OFN_HIDEREADONLY, "Binary files(*.bin)|*.bin|", this);
  if (dialog.DoModal() != IDOK) return;
  m_firmwarePath = dialog.GetPathName();
  UpdateData(FALSE);
}

// The address control's content goes with the path and period: the store is
// written from it and the next opening starts from it when the store is gone.
bool CUpgradeDlg::TakeControls() {
  DWORD address = 0;
  if (m_addressCtrl.GetAddress(address) > 0) {
    m_bootLoaderAddress = address;
    m_hasBootLoaderAddress = true;
  }
  return UpdateData(TRUE) != FALSE;
}

void CUpgradeDlg::OnOK() {
  if (!TakeControls()) return;
  DWORD shown = 0;
  m_addressCtrl.GetAddress(shown);
  if (!WriteFirmwareStore(m_firmwarePath, shown)) MessageBox(kMsgStoreUnwritable, "ERROR");
  EndDialog(IDOK);
}

void CUpgradeDlg::OnCancel() {
  if (TakeControls()) EndDialog(IDCANCEL);
}

}  // namespace corvane::upgrade
