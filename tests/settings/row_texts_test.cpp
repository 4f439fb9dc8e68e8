// The device list's row texts and the name read from a record: one function
// each for the main window and corvanectl.
#include <gtest/gtest.h>

#include <functional>

#include "corvane/settings/row_texts.h"
#include "settings_fixtures.h"

namespace {

using namespace corvane;
namespace off = protocol::off;
using protocol::Bytes;

std::string Joined(const settings::PortRowTexts& r) {
  return r.number + "|" + r.name + "|" + r.mac + "|" + r.dhcp + "|" + r.ip + "|" + r.port + "|" + r.mode +
         "|" + r.status;
}

void SetName(Bytes& b, const std::string& name) {
  for (std::size_t i = 0; i < protocol::kNameSize; ++i) b[off::kName + i] = i < name.size() ? name[i] : 0;
}

TEST(RowTexts, EachColumnFromTheRecordAsReceived) {
  const Bytes full = protocol::EncodeRecord(settings_fixtures::TwoPortRecord());
  const int whole = static_cast<int>(full.size());
  const struct {
    const char* what;
    std::function<void(Bytes&)> change;
    int length;
    int port;
    bool defaultName;
    const char* row;
  } cases[] = {
      {"port 1, a server", [](Bytes&) {}, whole, 1, true,
       "4|LINE-7|02-00-5E-01-A2-10|Enable|10.1.2.3|4001|Server|Idle"},
      {"port 2, a client: its destination port",
       [](Bytes& b) { b[off::kState2] = protocol::kStateConnected; }, whole, 2, true,
       "4|LINE-7|02-00-5E-01-A2-10|Enable|10.1.2.3|5001|Client|Connected"},
      {"another state", [](Bytes& b) { b[off::kState1] = 7; }, whole, 1, true, "Unknown"},
      {"fill bytes are left out of the name", [](Bytes& b) { SetName(b, "LI\xCCNE\xCC"); }, whole, 1, true,
       "|LINE|"},
      {"a zero byte ends the name", [](Bytes& b) { SetName(b, std::string("LIN\0E", 5)); }, whole, 1, true,
       "|LIN|"},
      {"sixteen letters, no zero", [](Bytes& b) { SetName(b, "ABCDEFGHIJKLMNOP"); }, whole, 1, true,
       "|ABCDEFGHIJKLMNOP|"},
      {"no name: the row's", [](Bytes& b) { SetName(b, ""); }, whole, 1, true, "4|CVN4|"},
      {"no name, none given", [](Bytes& b) { SetName(b, ""); }, whole, 1, false, "4||"},
      {"past the length everything is fill", [](Bytes& b) { b.resize(protocol::kMaxDatagram, 0); },
       static_cast<int>(off::kName + 2), 1, true,
       "4|LI|CC-CC-CC-CC-CC-CC|Enable|204.204.204.204|52428|Client|Unknown"},
  };
  for (const auto& c : cases) {
    Bytes record = full;
    c.change(record);
    const std::string row = Joined(settings::MakePortRow(record, c.length, c.port, 4, c.defaultName));
    EXPECT_NE(row.find(c.row), std::string::npos) << c.what << ": " << row;
  }
}

}  // namespace
