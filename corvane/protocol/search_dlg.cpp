// Search dialogs: templates, data exchange, enabling rules.
#include "corvane/protocol/search_dlg.h"

#include "corvane/protocol/search_dlg_ids.h"

namespace corvane::protocol {

using namespace tk;

namespace {
constexpr int kAddressChars = 15;
constexpr int kPortLow = 1024;
constexpr int kPortHigh = 65535;
constexpr int kTtlLow = 1;
constexpr int kTtlHigh = 128;
}  // namespace

const DialogTemplate& SearchDialogTemplate() {
  static const DialogTemplate tmpl{
      .caption = "Searching",
      .rect = {0, 0, 236, 118},
      .controls{
          GroupBox("Searching Setting", {7, 7, 229, 80}),
          RadioButton(ids::kMethodMulticast, "Multicast", {14, 20, 80, 30}).Group().TabStop(),
          RadioButton(ids::kMethodBroadcast, "Broadcast", {124, 20, 190, 30}),
          Label("IP", {14, 36, 26, 46}),
          Edit(ids::kMulticastGroup, {30, 34, 110, 46}),
          Label("IP", {124, 36, 136, 46}),
          Edit(ids::kBroadcastAddress, {140, 34, 222, 46}),
          Label("Port", {124, 52, 140, 62}).Hidden(),
          Edit(ids::kBroadcastPort, {144, 50, 190, 62}).Hidden(),
          Edit(ids::kMulticastPort, {60, 66, 100, 78}).Hidden(),
          Label("TTL", {14, 52, 30, 62}),
          Edit(ids::kTtl, {34, 50, 64, 62}),
          CheckBox(ids::kLoopback, "Loopback", {70, 50, 118, 62}),
          PushButton(IDOK, "Search", {60, 90, 110, 104}).Default(),
          PushButton(IDCANCEL, "Cancel", {126, 90, 176, 104}),
      },
  };
  return tmpl;
}

const DialogTemplate& IPSearchDialogTemplate() {
  static const DialogTemplate tmpl{
      .caption = "IP Searching",
      .rect = {0, 0, 180, 70},
      .controls{
          Label("IP", {10, 12, 22, 22}),
          Edit(ids::kIpSearchAddress, {26, 10, 110, 22}),
          Label("Port", {10, 30, 26, 40}).Hidden(),
          Edit(ids::kIpSearchPort, {30, 28, 80, 40}).Hidden(),
          PushButton(IDOK, "Search", {120, 8, 170, 22}).Default(),
          PushButton(IDCANCEL, "Cancel", {120, 28, 170, 42}),
      },
  };
  return tmpl;
}

// ---- CSearchDlg ------------------------------------------------------------------

CSearchDlg::CSearchDlg(CWnd* parent) : CDialog(SearchDialogTemplate(), parent) {}

void CSearchDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, ids::kBroadcastAddress, m_broadcastAddress);
  DDV_MaxChars(pDX, m_broadcastAddress, kAddressChars);
  DDX_Text(pDX, ids::kBroadcastPort, m_broadcastPort);
  DDV_MinMaxInt(pDX, m_broadcastPort, kPortLow, kPortHigh);
  DDX_Text(pDX, ids::kMulticastGroup, m_multicastGroup);
  DDV_MaxChars(pDX, m_multicastGroup, kAddressChars);
  DDX_Text(pDX, ids::kMulticastPort, m_multicastPort);
  DDV_MinMaxInt(pDX, m_multicastPort, kPortLow, kPortHigh);
  DDX_Text(pDX, ids::kTtl, m_ttl);
  DDV_MinMaxInt(pDX, m_ttl, kTtlLow, kTtlHigh);
  DDX_Radio(pDX, ids::kMethodMulticast, m_method);
  DDX_Check(pDX, ids::kLoopback, m_loopback);
}

BOOL CSearchDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  UpdateControlStates();
  return TRUE;
}

// Reads the controls (with validation), then enables the fields of the chosen
// method: group, TTL and Loopback for multicast, the address for broadcast.
void CSearchDlg::UpdateControlStates() {
  UpdateData(TRUE);
  const bool multicast = m_method == kMethodMulticast;
  GetDlgItem(ids::kMulticastGroup).EnableWindow(multicast);
  GetDlgItem(ids::kTtl).EnableWindow(multicast);
  GetDlgItem(ids::kLoopback).EnableWindow(multicast);
  GetDlgItem(ids::kBroadcastAddress).EnableWindow(!multicast);
}

bool CSearchDlg::OnCommand(UINT id, UINT code, Handle control) {
  if ((id == static_cast<UINT>(ids::kMethodMulticast) || id == static_cast<UINT>(ids::kMethodBroadcast)) &&
      code == BN_CLICKED) {
    UpdateControlStates();
    return true;
  }
  return CDialog::OnCommand(id, code, control);
}

// Cancel, like OK, keeps the dialog open until every value is in range.
void CSearchDlg::OnCancel() {
  if (UpdateData(TRUE)) EndDialog(IDCANCEL);
}

// ---- CIPSearchDlg ----------------------------------------------------------------

CIPSearchDlg::CIPSearchDlg(CWnd* parent) : CDialog(IPSearchDialogTemplate(), parent) {}

void CIPSearchDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, ids::kIpSearchAddress, m_deviceAddress);
  DDV_MaxChars(pDX, m_deviceAddress, kAddressChars);
  DDX_Text(pDX, ids::kIpSearchPort, m_port);
  DDV_MinMaxInt(pDX, m_port, kPortLow, kPortHigh);
}

// Cancel, like OK, keeps the dialog open until every value is in range.
void CIPSearchDlg::OnCancel() {
  if (UpdateData(TRUE)) EndDialog(IDCANCEL);
}

}  // namespace corvane::protocol
