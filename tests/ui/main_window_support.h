// Runs the main window modally on the headless backend and hands it to the
// test body; the window closes when the body returns.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "corvane/protocol/packet.h"
#include "corvane/ui/main_dlg.h"
#include "headless_test.h"
#include "tk/headless.h"

namespace corvane::ui::testing {

namespace hl = tk::headless;

inline void RunMainWindow(const std::function<void(CCorvaneDlg&)>& body) {
  auto dlg = std::make_unique<CCorvaneDlg>();
  hl::ExpectModal(kMainTitle, [&](tk::CWnd&) {
    body(*dlg);
    dlg->EndDialog(tk::IDCANCEL);
  });
  dlg->DoModal();
}

// A search reply of a device: name, last MAC byte, address 198.51.100.x, one
// or two ports.
inline protocol::DeviceRecord MakeRecord(const std::string& name, std::uint8_t macLast, int hostByte,
                                         bool twoPort) {
  protocol::DeviceRecord r;
  r.code = protocol::kReplySearch;
  r.name = name;
  r.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, macLast};
  r.dynamicIp = (198u << 24) | (51u << 16) | (100u << 8) | static_cast<std::uint32_t>(hostByte);
  r.portCount = twoPort ? 2 : 1;
  r.ports[0].dataPort = 4001;
  r.ports[1].dataPort = 4002;
  return r;
}

// Stores a reply as the search poller would and lets the window place its rows.
inline void Deliver(CCorvaneDlg& dlg, const protocol::Bytes& reply) {
  protocol::Bytes area(protocol::kMaxDatagram, protocol::kFill);
  std::copy(reply.begin(), reply.end(), area.begin());
  const protocol::ReplyMark mark = protocol::AcceptReply(area, static_cast<int>(reply.size()));
  const int slot = dlg.m_table->NextSlot();
  ASSERT_GE(dlg.m_table->StoreReply(area, static_cast<int>(reply.size()), mark, dlg.m_search.userSearch != 0),
            0);
  ++dlg.m_search.replyCount;
  dlg.WarnLowPorts(dlg.PlaceRowsOfStoredReply(slot));
}

inline void Deliver(CCorvaneDlg& dlg, const protocol::DeviceRecord& record) {
  Deliver(dlg, protocol::EncodeRecord(record));
}

}  // namespace corvane::ui::testing
