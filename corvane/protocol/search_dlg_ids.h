// Control ids of the search dialogs, shared by the templates, the classes and
// the tests.
#pragma once

namespace corvane::protocol::ids {

// "Searching"
constexpr int kMethodMulticast = 1040;  // radio, value 0; first of the group
constexpr int kMethodBroadcast = 1041;  // radio, value 1
constexpr int kMulticastPort = 1042;    // hidden
constexpr int kLoopback = 1043;
constexpr int kTtl = 1044;
constexpr int kBroadcastAddress = 1046;
constexpr int kBroadcastPort = 1047;  // hidden
constexpr int kMulticastGroup = 1048;

// "IP Searching"
constexpr int kIpSearchAddress = 1006;
constexpr int kIpSearchPort = 1014;  // hidden

}  // namespace corvane::protocol::ids
