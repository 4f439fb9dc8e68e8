// The two dialogs that set up a search: CSearchDlg (broadcast or multicast)
// and CIPSearchDlg (one address). Both live as long as the main window, so
// what the user entered stays for the next search.
#pragma once

#include <string>

#include "tk/dialog.h"

namespace corvane::protocol {

const tk::DialogTemplate& SearchDialogTemplate();
const tk::DialogTemplate& IPSearchDialogTemplate();

class CSearchDlg : public tk::CDialog {
 public:
  static constexpr int kMethodMulticast = 0;
  static constexpr int kMethodBroadcast = 1;

  explicit CSearchDlg(tk::CWnd* parent = nullptr);

  std::string m_broadcastAddress = "255.255.255.255";
  int m_broadcastPort = 25122;
  std::string m_multicastGroup = "225.1.2.3";
  int m_multicastPort = 25123;
  int m_ttl = 1;
  int m_method = kMethodBroadcast;
  int m_loopback = 1;

 protected:
  tk::BOOL OnInitDialog() override;
  void OnCancel() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override;

 private:
  void UpdateControlStates();
};

class CIPSearchDlg : public tk::CDialog {
 public:
  explicit CIPSearchDlg(tk::CWnd* parent = nullptr);

  std::string m_deviceAddress = "192.168.0.3";
  int m_port = 25122;

 protected:
  void OnCancel() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
};

}  // namespace corvane::protocol
