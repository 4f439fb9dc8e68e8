// Control ids of the two setting pages, shared by the templates, the classes
// and the tests.
#pragma once

namespace corvane::setup::ids {

constexpr int kNetworkTemplate = 132;
constexpr int kSerialTemplate = 134;

// Network page.
constexpr int kAutoConnect = 1010;
constexpr int kDeviceName = 1011;
constexpr int kMacAddress = 1012;
constexpr int kDynamicIp = 1013;
constexpr int kDataPort = 1014;
constexpr int kNetmask = 1015;
constexpr int kGateway = 1016;
constexpr int kDns = 1017;
constexpr int kStaticIp = 1018;
constexpr int kDhcp = 1019;
constexpr int kRs485 = 1025;
constexpr int kRs422 = 1026;
constexpr int kTimeoutSpin = 1029;
constexpr int kDestIp = 1032;
constexpr int kDestPort = 1033;
constexpr int kConnectionTimeout = 1035;
constexpr int kTxTimer = 1036;
constexpr int kServer = 1047;
constexpr int kClient = 1048;
constexpr int kUdp = 1052;
constexpr int kTcp = 1053;
constexpr int kBroadcast = 1054;
constexpr int kMulticast = 1055;

// Serial page.
constexpr int kDataBits = 1020;
constexpr int kParity = 1021;
constexpr int kFlowControl = 1022;
constexpr int kStopBits = 1023;
constexpr int kBaudRate = 1024;

}  // namespace corvane::setup::ids
