// Upgrade on the main window: the command, the upgrade request, the
// boot-loader file server and the upgrade timers (10 and 11).
#include <algorithm>
#include <optional>

#include "corvane/ui/main_dlg.h"
#include "corvane/upgrade/boot_io.h"
#include "corvane/upgrade/firmware_store.h"
#include "tk/platform.h"
#include "tk/socket.h"

namespace corvane::ui {

using namespace tk;
using protocol::RowKind;

namespace {

constexpr const char* kConfirm = "Do you really want to upgrade QN520xx firmware code?";
constexpr const char* kNoPath = "Please press 'Setting' button to set the production firmware path first !!";
constexpr const char* kNoFile = "Can not open the production firmware file!!";
constexpr const char* kStoreMissingCommand = "Couldn't find the fwupdate.dat file!!";
constexpr const char* kStoreMissingRequest =
    "DF_SendUpgReq: Couldn't find the fwupdate.dat file for reading data!!";

// Line 2 of the store, the boot-loader address; nothing when the store is gone.
std::optional<std::string> StoredBootLoaderAddress() {
  auto store = upgrade::ReadFirmwareStore();
  if (!store) return std::nullopt;
  return store->addressText;
}

}  // namespace

std::unique_ptr<upgrade::CUpgradeDlg> CCorvaneDlg::CreateUpgradeDialog() {
  return std::make_unique<upgrade::CUpgradeDlg>(this);
}

void CCorvaneDlg::OnUpgrade() {
  upgrade::CUpgradeDlg& dlg = *m_upgradeDlg;
  m_tickedCount = 0;
  m_operationPending = 1;
  dlg.m_noSelection = 0;
  CountTickedRows(nullptr, true);
  if (m_tickedCount == 0) dlg.m_noSelection = 1;
  if (m_tickedCount > 1) {
    MessageBox(kOnlyOneDevice, kProgramName);
    return;
  }
  const bool noSelection = dlg.m_noSelection != 0;
  if (!noSelection) {
    int answer = IDNO;
    if (!InHostSegment(m_list.GetCellText(m_currentRow, kColIp), &answer) && answer != IDYES) {
      m_list.SetRowCheck(m_currentRow, false);
      PushToControls();
      return;
    }
  }
  if (dlg.DoModal() != IDOK) return;

  m_upgrade.list.Reset();
  m_search.replyCount = 0;
  CountTickedRows(&m_upgrade.list, false);
  if (MessageBox(kConfirm, "Upgrade Info", MB_YESNO | MB_ICONINFORMATION) != IDYES) return;
  if (dlg.m_firmwarePath.empty()) {
    MessageBox(kNoPath, kProgramName);
    return;
  }
  if (!upgrade::DiskFile(dlg.m_firmwarePath).Size()) {
    MessageBox(kNoFile, kProgramName);
    return;
  }

  if (noSelection) {
    // The boot loader is offered the stored address; without a store, the
    // address the dialog was closed with (there is no row to take one from).
    if (auto stored = StoredBootLoaderAddress()) {
      m_clientAddress = InetAddr(*stored);
    } else {
      MessageBox(kStoreMissingCommand, "ERROR");
      m_clientAddress = dlg.m_hasBootLoaderAddress ? dlg.m_bootLoaderAddress : 0;
    }
  } else {
    m_clientAddress = InetAddr(m_list.GetCellText(m_currentRow, kColIp));
  }
  m_serverAddress = InetAddr(m_hostAddress);

  DisableCommandButtons();
  if (noSelection) {
    SetStatusText(" Boot loader upgrading ...");
  } else {
    m_rowKind = RowKindOf(m_currentRow, m_rowKind);
    SetStatusText(" NO " + RowNumbersText(m_currentRow, m_rowKind) + " upgrading ...");
  }
  StartTimer(ids::timer::kUpgradeWait, static_cast<UINT>(dlg.m_upgradePeriod) * 100);
  StartTimer(ids::timer::kUpgradePacing, static_cast<UINT>(dlg.m_upgradePeriod) * 1000);

  // The list moves on before the device is served: the server's messages
  // run the upgrade timers meanwhile.
  const int row = noSelection ? -1 : m_upgrade.list.Current();
  if (!m_upgrade.list.Empty() && !noSelection) {
    m_upgrade.list.Advance();
    m_upgrade.list.ready = 1;
  }
  SendUpgradeRequest(row);
}

// The file server's sockets open before the request goes out: a boot loader
// that asks at once would otherwise find nobody listening, and a device must
// never be sent into its boot loader when nobody can serve it.
// A ticked device is known by its MAC address: only its boot loader is
// answered, not any other DHCP client on the LAN.
void CCorvaneDlg::SendUpgradeRequest(int row) {
  std::optional<protocol::MacAddress> clientMac;
  if (const int slot = row < 0 ? -1 : SlotOfRow(row); slot >= 0)
    clientMac = protocol::MacOfRecord(m_table->Slot(slot));
  ServeBootFile(
      m_upgradeDlg->m_firmwarePath,
      [&] {
        SendUpgradePacket(row);
        StartHiddenProcess("arp -d " + m_hostAddress);
      },
      clientMac);
}

void CCorvaneDlg::SendUpgradePacket(int row) {
  if (!m_transports.unicast->IsOpen()) m_transports.ReopenUnicast(m_hostAddress);
  if (row < 0) {
    const auto stored = StoredBootLoaderAddress();
    if (!stored) {
      // Without the store there is no address to send to.
      MessageBox(kStoreMissingRequest, "ERROR");
      return;
    }
    const protocol::Bytes request = protocol::BuildBootLoaderUpgradeRequest();
    m_transports.unicast->Send(request.data(), static_cast<int>(request.size()), *stored);
  } else if (const int slot = SlotOfRow(row); slot >= 0) {
    const int ports = m_table->PortCount(slot);
    if (ports == 1 || ports == 2) {
      const protocol::Bytes request = protocol::BuildUpgradeRequest(
          m_list.GetCellText(row, kColName), protocol::MacOfRecord(m_table->Slot(slot)), ports == 2);
      m_transports.unicast->Send(request.data(), static_cast<int>(request.size()),
                                 m_list.GetCellText(row, kColIp));
    }
  }
}

bool CCorvaneDlg::ServeBootFile(const std::string& firmwarePath, const std::function<void()>& tellDevice,
                                const std::optional<protocol::MacAddress>& clientMac) {
  upgrade::BootServeSettings settings;
  settings.firmwarePath = firmwarePath;
  settings.clientMac = clientMac;
  settings.clientAddress = m_clientAddress;
  settings.serverAddress = m_serverAddress;
  upgrade::SocketBootTransport transport;
  upgrade::SteadyBootClock clock;
  upgrade::DiskFile file(firmwarePath);
  upgrade::BootExchange exchange(settings, transport, clock, file);
  const std::uint64_t size = file.Size().value_or(0);
  const std::string busyText = m_statusText;

  // The exchange holds this thread: show each acknowledged block at once.
  // Only the progress bar and the status line are repainted; no other message
  // is handled, so no command can start and due timers wait for the end.
  auto progress = [&](std::uint32_t acknowledged, std::uint32_t total) {
    const std::uint64_t sent =
        std::min<std::uint64_t>(std::uint64_t{acknowledged} * upgrade::tftp::kBlockSize, size);
    SetProgress(total == 0 ? kProgressDone
                           : static_cast<int>(std::uint64_t{acknowledged} * kProgressDone / total));
    SetStatusText(busyText + " " + std::to_string(sent) + " of " + std::to_string(size) + " bytes sent");
    m_progress.UpdateWindow();
    GetDlgItem(ids::kStatusText).UpdateWindow();
  };
  upgrade::ServeStatus status = exchange.Prepare();
  if (status == upgrade::ServeStatus::Success) {
    if (tellDevice) tellDevice();
    status = exchange.Serve(progress);
  }
  StartRestartWait();
  if (status != upgrade::ServeStatus::Success) MessageBox(upgrade::ServeStatusMessage(status), kProgramName);
  return status == upgrade::ServeStatus::Success;
}

// Timer 10 waits (remaining + 2) x 10 ticks, then searches again unless the
// search after the restart wait has already found devices. It stops either way.
void CCorvaneDlg::OnUpgradeTimers(UINT_PTR id) {
  if (id == ids::timer::kUpgradeWait) {
    if (m_upgrade.waitCount == 0) m_upgrade.waitLimit = m_upgrade.list.remaining + 2;
    if (m_upgrade.waitCount < m_upgrade.waitLimit * 10) {
      ++m_upgrade.waitCount;
      return;
    }
    StopTimer(ids::timer::kUpgradeWait);
    m_upgrade.waitCount = 0;
    if (m_search.replyCount == 0) {
      m_list.DeleteAllRows();
      RepeatLastSearch();
    }
    return;
  }
  if (m_upgrade.list.Empty()) {
    StopTimer(ids::timer::kUpgradePacing);
    m_upgrade.list.ready = 0;
    return;
  }
  if (m_upgrade.list.ready != 1) return;
  const int row = m_upgrade.list.Current();
  m_upgrade.list.Advance();
  SendUpgradeRequest(row);
}

}  // namespace corvane::ui
