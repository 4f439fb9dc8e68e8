// The two pages of the device setup sheet: "Network Setting" (the device-wide
// network settings and the network settings of one serial port) and "Serial
// Port Setting" (that port's line settings). Each keeps one member per setting
// and exchanges them with its controls; the network page also keeps its
// controls consistent (server or client, DHCP, and three pairs of check boxes
// that must not contradict each other). The pages know nothing of records,
// requests or files: the sheet moves values in and out.
#pragma once

#include <string>

#include "tk/propsheet.h"

namespace corvane::setup {

const tk::DialogTemplate& NetworkPageTemplate();
const tk::DialogTemplate& SerialPageTemplate();

class CDeviceSetupNetworkPage : public tk::CPropertyPage {
 public:
  CDeviceSetupNetworkPage();

  int m_broadcast = 0;
  int m_multicast = 0;
  int m_tcp = 0;
  int m_udp = 0;
  std::string m_destIp;
  unsigned int m_destPort = 25122;
  std::string m_deviceName;
  std::string m_dns;
  std::string m_gateway;
  std::string m_dynamicIp;
  std::string m_macAddress;
  std::string m_netmask;
  unsigned int m_dataPort = 25122;
  std::string m_staticIp;
  unsigned int m_connectionTimeout = 0;  // minutes
  int m_serverClient = 0;                // 0 server, 1 client
  int m_dhcp = 0;                        // 0 disable, 1 enable
  unsigned int m_txTimer = 0;            // milliseconds
  int m_autoConnect = 0;
  int m_rs485 = 0;
  int m_rs422 = 0;

  // The activation step: members shown, enabling and visibility rules applied.
  void Refresh() { OnSetActive(); }

 protected:
  tk::BOOL OnInitDialog() override;
  tk::BOOL OnSetActive() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override;

 private:
  void OnServer();
  void OnClient();
  void OnDhcpChange();
  void OnTcp();
  void OnUdp();
  void OnMulticast();
  void OnBroadcast();
  void OnRs485();
  void OnRs422();
  void Enable(int id, bool enable);
  void Show(int id, bool show);
};

class CDeviceSetupSerialPage : public tk::CPropertyPage {
 public:
  CDeviceSetupSerialPage();

  // Selection indices; each index is the device's code of the setting.
  int m_baudRate = 0;
  int m_dataBits = 0;
  int m_flowControl = 0;
  int m_parity = 0;
  int m_stopBits = 0;

  void Refresh() { OnSetActive(); }

 protected:
  tk::BOOL OnInitDialog() override;
  tk::BOOL OnSetActive() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
};

}  // namespace corvane::setup
