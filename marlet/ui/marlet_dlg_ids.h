// Control ids of the port manager's main window (dialog 102), shared by the
// template, the window class and the tests.
#pragma once

namespace marlet::ids {

constexpr int kDialog = 102;
constexpr int kList = 1000;
constexpr int kAdd = 1001;
constexpr int kRemove = 1002;
constexpr int kProgress = 1007;
constexpr int kStatus = 1008;
constexpr int kConnect = 1009;
constexpr int kClose = 1010;
constexpr int kRemoteIp = 1012;
constexpr int kRemotePort = 1013;
constexpr int kTcpClient = 1014;
constexpr int kUdpClient = 1015;
constexpr int kConnectAtStart = 1017;
constexpr int kSetting = 1018;
constexpr int kUnused = 1020;
constexpr int kMaxPacketSize = 1021;

constexpr unsigned kAboutCommand = 16;
constexpr int kIconMain = 128;
constexpr int kBitmapBanner = 146;

}  // namespace marlet::ids
