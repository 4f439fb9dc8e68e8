// CMarletDlg: the port manager's main window. It lists the virtual ports the
// driver presents, adds and removes ports, edits a port's remote settings and
// sends them to the driver, and connects or disconnects a port. All port state
// lives in the driver; the list is rebuilt from it at start-up and after Add
// and Remove.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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
  // Enter and Esc do not end the window; only its close box does.
  void OnOK() override {}

 private:
  void RefreshPortList();
  void OnRowClick(int row);
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
  // The row's state and, when connected, its remote endpoint.
  void ShowRowState(int row, const RemoteEndpoint& endpoint);
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
};

// The "About Marlet" box.
class CAboutDlg : public tk::CDialog {
 public:
  CAboutDlg();
};

}  // namespace marlet
