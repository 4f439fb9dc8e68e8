// CMarletDlg: the port manager's main window. It lists the virtual ports the
// driver presents, adds and removes ports, edits a port's remote settings and
// sends them to the driver, and connects or disconnects a port. All port state
// lives in the driver; the list is rebuilt from it at start-up and after Add
// and Remove, and each second the rows' status follows the link state the
// data service reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "marlet/driver/port_driver_channel.h"
#include "marlet/install/install_platform.h"
#include "reportctrl/report_ctrl.h"
#include "tk/tk.h"

namespace marlet {

constexpr const char* kMainTitle = "Marlet 1.3";
constexpr const char* kInstallationFile = "QN520xx.inf";
constexpr const char* kPortListColumns =
    "Port ID, 60; Port Name, 150; Status, 100; Remote IP, 120; Remote Port, 80";
constexpr unsigned kDefaultMaxPacketSize = 450;
// At this many rows a failed detail read also disables Add.
constexpr int kRowLimit = 256;
// The timer that brings the rows' status up to date with the ports' links.
constexpr tk::UINT_PTR kLinkStateTimer = 1;
constexpr tk::UINT kLinkStatePeriodMs = 1000;

const tk::DialogTemplate& MarletDialogTemplate();

class CMarletDlg : public tk::CDialog {
 public:
  CMarletDlg(PortDriverChannel& channel, DeviceInstallPlatform& installer,
             std::function<void(int)> exitProgram);

  int PortCount() const { return m_portCount; }
  int InterfaceCount() const { return m_interfaceCount; }
  bool Editing() const { return m_editing != 0; }
  reportctrl::CReportCtrl& List() { return m_list; }

 protected:
  tk::BOOL OnInitDialog() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override;
  bool OnNotify(int id, tk::Notification& n, tk::LRESULT& result) override;
  bool OnSysCommand(tk::UINT id, tk::LPARAM lParam) override;
  bool OnPaint() override;
  tk::HICON OnQueryDragIcon() override;
  void OnTimer(tk::UINT_PTR id) override;
  // Enter and Esc do not end the window; only its close box does.
  void OnOK() override {}

 private:
  void RefreshPortList();
  void OnRowClick(int row);
  // The Connect, Close, Remove and Setting buttons for the row's status; false
  // (and Remove enabled only) for a status the window does not know.
  bool EnableForStatus(int row);
  // Each row's status from the link state its port reports; rows whose state
  // is unknown or unchanged are left as they are.
  void RefreshLinkStates();
  void OnSetting();
  void OnConnect();
  void OnDisconnect();
  void OnAdd();
  void OnRemove();

  void Enable(int id, bool enable);
  void EnableRemoteFields(bool enable);
  int SelectedRow() const;
  // The port ID of the selected row; -1 when no row is selected.
  int SelectedPortId() const;
  void ShowEndpoint(const RemoteEndpoint& endpoint);
  // The row's state and, when not idle, its remote endpoint, which the row
  // keeps for later changes of state.
  void ShowRowState(int row, const RemoteEndpoint& endpoint);
  // What the row last learnt of its port's remote endpoint.
  void RememberEndpoint(int row, const RemoteEndpoint& endpoint);
  std::uint32_t AddressFromControl() const;
  void SetStatus(const std::string& text);

  PortDriverChannel& m_channel;
  DeviceInstallPlatform& m_installer;
  std::function<void(int)> m_exitProgram;
  tk::HICON m_icon;
  reportctrl::CReportCtrl m_list;

  // Exchanged with the controls.
  std::string m_status;
  std::string m_portText = "0";
  int m_connectionType = 0;
  int m_connectAtStart = 0;
  unsigned m_maxPacketSize = kDefaultMaxPacketSize;
  // The window's own state.
  std::uint32_t m_connected = 0;
  int m_portCount = 0;
  int m_interfaceCount = 0;
  int m_editing = 0;
  std::string m_infName;
  // Each row's remote endpoint as last read from or sent to the driver, for
  // the columns of a row whose link comes up: the driver cannot be asked then
  // while a terminal program holds the port.
  std::vector<RemoteEndpoint> m_rowEndpoints;
};

// The "About Marlet" box.
class CAboutDlg : public tk::CDialog {
 public:
  CAboutDlg();
};

}  // namespace marlet
