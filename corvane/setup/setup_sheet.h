// CDeviceSetupMain: the "Device Setup" sheet in which the user edits the
// settings of the device behind one list row and submits them.
//
// At opening it asks the main window for the host information, the row kind
// and the record of the current row (setup_messages.h) and fills its pages from
// the record. Submit checks the entries, builds the set request in the sheet's
// own buffer and ends the sheet with 1; the main window then sends that buffer.
// Save and Load write and read a settings file and leave the sheet open. The
// close box ends the sheet with 2. A two-port device is edited one port at a
// time; the other port's settings ride along in the other-port store, so one
// Submit writes both ports.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "corvane/settings/setting_items.h"
#include "corvane/setup/setup_pages.h"

namespace corvane::setup {

class CDeviceSetupMain : public tk::CPropertySheet {
 public:
  explicit CDeviceSetupMain(tk::CWnd* owner = nullptr);

  // The request of the last Submit, read by the main window after a result of 1.
  const std::array<std::uint8_t, 73>& OnePortRequest() const { return m_onePortRequest; }
  const std::array<std::uint8_t, 98>& TwoPortRequest() const { return m_twoPortRequest; }

  // What the main window handed over at the last opening.
  int RowKind() const { return m_rowKind; }
  int RowCount() const { return m_rowCount; }
  int TableSlot() const { return m_tableSlot; }
  const std::string& HostAddress() const { return m_hostAddress; }

  CDeviceSetupNetworkPage& NetworkPage() { return m_network; }
  CDeviceSetupSerialPage& SerialPage() { return m_serial; }
  const settings::OtherPortStore& Store() const { return m_store; }

  // The six conversions between pages, record, request and file.
  std::string ReadItem(int item) const;
  void DecodeRecord(const std::uint8_t* record, int rowNumber);
  bool ApplyItem(int item, const std::string& text);
  bool ApplyFileField(int field, const std::string& text);
  void RefreshPages();

  tk::BOOL DestroyWindow() override;

 protected:
  tk::BOOL OnInitDialog() override;
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override;
  bool OnMessage(tk::UINT msg, tk::WPARAM wParam, tk::LPARAM lParam, tk::LRESULT& result) override;

 private:
  // The checks and the request; true when the sheet may end with OK.
  bool Submit();
  void SaveSettingsFile();
  void LoadSettingsFile();
  bool IsButtonClick(tk::UINT code, tk::Handle control) const;
  tk::CWnd* MainWindow() const;
  tk::CWnd PageControl(int id) const;
  // The item texts and store as the page members hold them, and back.
  settings::DeviceSettings SettingsFromMembers() const;
  void MembersFromSettings(const settings::DeviceSettings& s, const settings::DeviceSettings& before,
                           int alwaysItem);
  settings::DeviceSettings SettingsFromControls() const;

  std::array<std::uint8_t, 73> m_onePortRequest{};
  std::array<std::uint8_t, 98> m_twoPortRequest{};
  CDeviceSetupNetworkPage m_network;
  CDeviceSetupSerialPage m_serial;
  int m_dhcpShown = 0;
  std::array<std::uint8_t, 96> m_recordCopy{};
  int m_rowKind = 0;
  int m_rowCount = 0;
  int m_tableSlot = 0;
  std::string m_hostAddress;
  settings::OtherPortStore m_store;
  tk::CWnd* m_owner;
};

}  // namespace corvane::setup
