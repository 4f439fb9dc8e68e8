// corvanectl as a user runs it: the program in the PC namespace, devsim with a
// one-port and a two-port device in the device namespace of the same pair.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "ctl_fixture.h"

namespace {

constexpr const char* kOnePortMac = "02-00-5E-01-A2-0F";
constexpr const char* kTwoPortMac = "02-00-5E-01-A2-10";
constexpr const char* kOnePortIp = "198.51.100.20";
constexpr const char* kTwoPortIp = "198.51.100.21";

// The devices of the golden settings files: the one-port device with multicast
// management off, so that only the two-port device answers a multicast search.
constexpr const char* kDevices = R"(
  {"name": "AB", "mac": "02-00-5E-01-A2-0F", "address": "198.51.100.20", "dhcp": false,
   "staticIp": "192.168.0.50", "netmask": "255.255.255.0", "gateway": "192.168.0.1", "dns": "192.168.0.2",
   "timeoutMinutes": 5, "autoConnect": false, "broadcastManagement": true, "multicastManagement": false,
   "ports": [{"mode": "client", "tcp": false, "udp": true, "dataPort": 4001, "destIp": "192.168.0.9",
              "destPort": 4002, "baudCode": 1, "dataBitsCode": 3, "parityCode": 2, "flowCode": 2,
              "stopBitsCode": 0, "txTimerMs": 100, "rs485": false}],
   "timings": {"restartMs": 100}},
  {"name": "LINE-7", "mac": "02-00-5E-01-A2-10", "address": "198.51.100.21", "dhcp": true,
   "staticIp": "10.1.2.30", "netmask": "255.255.0.0", "gateway": "10.1.0.1", "dns": "0.0.0.0",
   "timeoutMinutes": 3, "autoConnect": true, "broadcastManagement": true, "multicastManagement": true,
   "ports": [{"mode": "server", "tcp": true, "udp": false, "dataPort": 4001, "destIp": "0.0.0.0", "destPort": 0,
              "baudCode": 5, "dataBitsCode": 3, "parityCode": 2, "flowCode": 2, "stopBitsCode": 0,
              "txTimerMs": 0, "rs485": false},
             {"mode": "client", "tcp": false, "udp": true, "dataPort": 4002, "destIp": "10.1.2.99",
              "destPort": 5001, "baudCode": 8, "dataBitsCode": 2, "parityCode": 1, "flowCode": 1,
              "stopBitsCode": 1, "txTimerMs": 250, "rs485": true, "state": "connected"}],
   "timings": {"restartMs": 100}})";

using ctltest::ReadText;
using namespace std::string_literals;
using ctltest::Result;

class CorvaneCtl : public ctltest::CtlOnPair {
 protected:
  void SetUp() override {
    CtlOnPair::SetUp();
    if (IsSkipped()) return;
    StartPair({kOnePortIp, kTwoPortIp}, kDevices);
  }
};

// Every way of searching lists the ports of the devices it reaches, as the
// main window's rows, numbered in order; the JSON reads back.
TEST_F(CorvaneCtl, SearchListsThePortsOfTheDevicesReached) {
  const std::string onePort = std::string(kOnePortMac) + " 1 AB Disable 198.51.100.20 4002 Client Idle";
  const std::string twoPort1 = std::string(kTwoPortMac) + " 1 LINE-7 Enable 198.51.100.21 4001 Server Idle";
  const std::string twoPort2 =
      std::string(kTwoPortMac) + " 2 LINE-7 Enable 198.51.100.21 5001 Client Connected";
  const struct {
    const char* args;
    std::set<std::string> rows;
  } cases[] = {
      {"", {onePort, twoPort1, twoPort2}},   {"--broadcast", {onePort, twoPort1, twoPort2}},
      {"--multicast", {twoPort1, twoPort2}}, {"--ip 198.51.100.21", {twoPort1, twoPort2}},
      {"--ip 198.51.100.20", {onePort}},
  };
  for (const auto& c : cases) {
    const Result run = Ctl(std::string("search --json --wait 500 ") + c.args);
    ASSERT_EQ(run.code, 0) << c.args;
    const auto rows = nlohmann::json::parse(run.out);
    std::set<std::string> seen;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const auto& r = rows[i];
      EXPECT_EQ(r["number"], i + 1) << c.args;
      seen.insert(r["mac"].get<std::string>() + " " + std::to_string(r["serialPort"].get<int>()) + " " +
                  r["name"].get<std::string>() + " " + r["dhcp"].get<std::string>() + " " +
                  r["ip"].get<std::string>() + " " + std::to_string(r["port"].get<int>()) + " " +
                  r["mode"].get<std::string>() + " " + r["status"].get<std::string>());
    }
    EXPECT_EQ(seen, c.rows) << c.args;
  }
  // The text form: a heading, then the row as the main window shows it.
  const Result text = Ctl("search --ip 198.51.100.20 --wait 500");
  EXPECT_EQ(text.out.substr(text.out.find('\n') + 1),
            "1    AB               02-00-5E-01-A2-0F Disable  198.51.100.20   4002   Client  Idle\n");
}

// The file backup writes is the device manager's own: the golden files, but
// for what a device always reports: its dynamic IP (the simulated device's
// address) and a DNS server address where the golden two-port file has none.
// From the row of a port in client mode the setup page clears auto connect,
// and so does its file.
TEST_F(CorvaneCtl, BackupWritesTheDeviceManagersSettingsFile) {
  using Swaps = std::vector<std::pair<int, std::string>>;  // line number, value
  const Swaps onePort = {{5, kOnePortIp}};
  const Swaps twoPort = {{6, kTwoPortIp}, {25, "0.0.0.0"}};
  const Swaps twoPortClient = {{6, kTwoPortIp}, {18, "0"}, {25, "0.0.0.0"}};
  const struct {
    const char* target;
    const char* port;
    const char* golden;
    const Swaps& swaps;
  } cases[] = {
      {kOnePortIp, "", "one_port.log", onePort},
      {kOnePortMac, "", "one_port.log", onePort},
      {kTwoPortIp, "--port 1", "two_port.log", twoPort},
      {kTwoPortMac, "--port 2", "two_port.log", twoPortClient},
  };
  for (const auto& c : cases) {
    const std::string path = File("backup.log");
    ASSERT_EQ(Ctl(std::string("backup ") + c.target + " " + path + " " + c.port + " --wait 500").code, 0)
        << c.target;
    std::string expected = ReadText(std::string(SETTINGS_GOLDEN_DIR) + "/" + c.golden);
    for (const auto& [line, value] : c.swaps) {
      std::size_t start = 0;
      for (int i = 1; i < line; ++i) start = expected.find('\n', start) + 1;
      expected.replace(start, value.size(), value);
      expected.replace(start + value.size(), 24 - value.size(), 24 - value.size(), ' ');
    }
    EXPECT_EQ(ReadText(path), expected) << c.target;
  }
}

// show names every item of the port asked for; the JSON reads back.
TEST_F(CorvaneCtl, ShowNamesEveryItem) {
  const Result one = Ctl("show 198.51.100.20 --json --wait 500");
  ASSERT_EQ(one.code, 0);
  const auto items = nlohmann::json::parse(one.out);
  EXPECT_EQ(items.size(), 27u);
  EXPECT_EQ(items["Device name"], "AB");
  EXPECT_EQ(items["Baud rate(bps)"], "1");
  const auto two = nlohmann::json::parse(Ctl("show 198.51.100.21 --port 2 --json --wait 500").out);
  EXPECT_EQ(two.size(), 40u);
  EXPECT_EQ(two["Port 2 Transmission timer (ms)"], "250");
  EXPECT_EQ(two["Auto connect after reboot"], "0");
  EXPECT_NE(Ctl("show 198.51.100.20 --wait 500").out.find("Server static listening IP: 192.168.0.50\n"),
            std::string::npos);
}

// Mistakes and silence end with the documented codes, the message on standard
// error, and nothing is written; a wrong target is found before anything is sent.
TEST_F(CorvaneCtl, FailuresEndWithTheirExitCodes) {
  const std::string file = File("never.log");
  const std::string folder = File("folder.log");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string image = File("image-folder");
  ASSERT_EQ(::mkdir(image.c_str(), 0700), 0);
  const struct {
    std::string args;
    int code;
    const char* message;
  } cases[] = {
      {"search --ip 198.51.100.99 --wait 300", 3, ""},
      {"show 02-00-5E-00-00-01 --wait 300", 3, "no answer from 02-00-5E-00-00-01"},
      {"backup 198.51.100.99 " + file + " --wait 300", 3, ""},
      {"backup 198.51.100.20 /nonexistent-dir/settings.log --wait 500", 4, ""},
      {"backup 198.51.100.20 " + folder + " --wait 500", 4, "is a folder"},
      {"upgrade 198.51.100.20 --image " + image + " --yes", 4, "is a folder"},
      {"show 198.51.100.20 --port 2 --wait 500", 2, "one serial port only"},
      {"show not-a-device", 2, "\"not-a-device\" is neither"},
      {"reboot 198.51.100.20 10.1.2.3.4 --yes", 2, "\"10.1.2.3.4\" is neither"},
      {"upgrade 10.1.2.3.4 --image " + file + " --yes", 2, "\"10.1.2.3.4\" is neither"},
      {"search --broadcast --multicast", 2, ""},
      {"search --wait soon", 2, ""},
      {"search --ip", 2, ""},
      {"backup 198.51.100.20", 2, ""},
      {"frobnicate", 2, "unknown command"},
  };
  for (const auto& c : cases) {
    const Result run = Ctl(c.args);
    EXPECT_EQ(run.code, c.code) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    if (c.code == 2) {
      EXPECT_EQ(run.out, "") << c.args;
    }
  }
  EXPECT_FALSE(std::ifstream(file).good());
  struct stat info {};
  EXPECT_TRUE(::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) << "the folder is left alone";
  ::rmdir(folder.c_str());
  ::rmdir(image.c_str());
  // Nothing was sent for the command whose second target was wrong.
  EXPECT_EQ(ctltest::Count(ReadText(log), "reboot requested"), 0u) << ReadText(log);
}

// Each command and the program itself answer --help on standard output.
TEST_F(CorvaneCtl, HelpIsAnsweredForEveryCommand) {
  for (const char* command :
       {"", "search ", "show ", "backup ", "reboot ", "restore ", "apply ", "upgrade "}) {
    const Result run = Ctl(std::string(command) + "--help");
    EXPECT_EQ(run.code, 0) << command;
    EXPECT_NE(run.out.find("Exit codes:"), std::string::npos) << command << run.out;
  }
}

}  // namespace

namespace {

// reboot and restore: each acknowledged device counts; a device that never
// answers fails the run, and so does one whose serial port is in use, left
// alone unless --force; without --yes and a terminal nothing is sent.
TEST_F(CorvaneCtl, RebootAndRestoreCountAcknowledgedDevices) {
  const struct {
    const char* args;
    int code;
    const char* summary;
  } cases[] = {
      {"reboot 198.51.100.20 --yes", 0, "1 of 1 device(s) rebooted\n"},
      {"restore 02-00-5E-01-A2-10 --yes", 1, "0 of 1 device(s) restored\n"},
      {"restore 02-00-5E-01-A2-10 --yes --force", 0, "1 of 1 device(s) restored\n"},
      {"reboot 198.51.100.99 198.51.100.20 --yes --wait 400", 1, "1 of 2 device(s) rebooted\n"},
      {"reboot 198.51.100.20", 6, ""},
  };
  for (const auto& c : cases) {
    const Result run = Ctl(c.args);
    EXPECT_EQ(run.code, c.code) << c.args;
    EXPECT_TRUE(run.out.ends_with(c.summary)) << c.args << ": " << run.out;
  }
}

}  // namespace

namespace {

// Where only loopback is up a search cannot be sent: every command that looks
// for its target ends as search does, with the network's code.
using CorvaneCtlLoopbackOnly = ctltest::CtlTest;

TEST_F(CorvaneCtlLoopbackOnly, CommandsThatCannotSearchEndWithTheNetworkCode) {
  const testnet::Namespace ns("ctl-lo");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const std::string file = File("never.log");
  const std::string golden = std::string(SETTINGS_GOLDEN_DIR) + "/one_port.log";
  for (const std::string& args : {"search --wait 100"s, "show 02-00-5E-01-A2-0F --wait 100"s,
                                  "backup 02-00-5E-01-A2-0F " + file + " --wait 100",
                                  "apply " + golden + " 02-00-5E-01-A2-0F --yes --wait 100"}) {
    const Result run = Ctl(ns, args);
    EXPECT_EQ(run.code, 5) << args << ": " << run.err;
    EXPECT_NE(run.err.find("cannot send the search"), std::string::npos) << args << ": " << run.err;
  }
}

}  // namespace
