// The simulator's configuration file and its command line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "devsim/config.h"

namespace devsim {
namespace {

TEST(Config, TheTwoDeviceExampleParses) {
  SimulatorConfig config;
  std::string error;
  ASSERT_TRUE(LoadConfigFile(std::string(DEVSIM_EXAMPLES_DIR) + "/two-devices.json", config, error)) << error;
  ASSERT_EQ(config.devices.size(), 2u);
  const auto& b = config.devices[1];
  EXPECT_EQ(b.record.name, "dev-b");
  EXPECT_EQ(b.record.portCount, 2);
  EXPECT_TRUE(b.record.dhcp);
  EXPECT_TRUE(b.record.ports[1].client);
  EXPECT_EQ(b.record.ports[1].destPort, 5000);
  EXPECT_EQ(b.record.ports[1].state, 1);
  EXPECT_EQ(b.address, "198.51.100.11");
  EXPECT_EQ(config.devices[0].record.ports[0].lineA, 0x0B);
  EXPECT_EQ(config.devices[0].record.ports[0].lineB, 0x48)
      << "defaults: no parity, no flow control, 1 stop bit";
}

TEST(Config, FaultsAndTimings) {
  SimulatorConfig config;
  std::string error;
  ASSERT_TRUE(ParseConfig(R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"198.51.100.9",
      "faults":{"wrongMagic":true,"oversizeReply":300,"replyDelayMs":40,"dropDataBlocks":[2,5]},
      "timings":{"restartMs":10},
      "ports":[{"state":"unknown"},{"echo":false,"sideChannel":"/tmp/p2.sock"}]}]})",
                          config, error))
      << error;
  const auto& d = config.devices[0];
  EXPECT_TRUE(d.faults.wrongMagic);
  EXPECT_EQ(d.faults.oversizeReply, 300);
  EXPECT_EQ(d.faults.dropDataBlocks, (std::set<int>{2, 5}));
  EXPECT_EQ(d.timings.restartMs, 10);
  EXPECT_EQ(d.record.ports[0].state, 2);
  EXPECT_TRUE(d.serialLines[0].echo) << "a line has its echo plug unless told otherwise";
  EXPECT_FALSE(d.serialLines[1].echo);
  EXPECT_EQ(d.serialLines[1].sideChannel, "/tmp/p2.sock");
}

// A generated site: MACs and addresses count up from the first ones (skipping
// a subnet's network and broadcast addresses), names and data ports are the
// device's own, every Nth device has two ports, and faults land on the devices
// named by number after any listed device.
TEST(Config, ASiteIsGenerated) {
  const struct {
    const char* label;
    std::string site;
    std::size_t count;
    std::size_t probe;  // the device looked at
    std::string name, mac, address;
    int ports, dataPort2, lossPercent;
  } cases[] = {
      {"one device", R"({"count":1,"firstMac":"02-00-5E-10-00-01","firstAddress":"198.51.100.10"})", 1, 0,
       "site-1", "02-00-5E-10-00-01", "198.51.100.10", 1, 0, 0},
      {"a full site crosses a /24", R"({"count":256,"firstMac":"02-00-5E-10-00-FF","firstAddress":"10.1.0.1",
           "netmask":"255.255.0.0","twoPortEvery":4,"firstDataPort":5000})",
       256, 255, "site-256", "02-00-5E-10-01-FE", "10.1.1.0", 2, 5511, 0},
      {"the broadcast and network addresses are skipped",
       R"({"count":240,"firstMac":"02-00-5E-10-00-01","firstAddress":"198.51.100.250","namePrefix":"d",
           "faults":[{"devices":[1,8],"faults":{"lossPercent":5}},{"devices":[8],"faults":{"lossPercent":9}}]})",
       240, 7, "d8", "02-00-5E-10-00-08", "198.51.101.3", 1, 0, 9},
      {"a fault for one device only",
       R"({"count":9,"firstMac":"02-00-5E-10-00-01","firstAddress":"198.51.100.10",
           "faults":[{"devices":[8],"faults":{"lossPercent":5}}]})",
       9, 6, "site-7", "02-00-5E-10-00-07", "198.51.100.16", 1, 0, 0},
  };
  for (const auto& c : cases) {
    SimulatorConfig config;
    std::string error;
    ASSERT_TRUE(ParseConfig(std::string(R"({"site":)") + c.site + "}", config, error)) << c.label << error;
    ASSERT_EQ(config.devices.size(), c.count) << c.label;
    std::set<std::string> macs, addresses;
    std::set<int> dataPorts;
    for (const auto& d : config.devices) {
      macs.insert(corvane::protocol::MacText(d.record.mac));
      addresses.insert(d.address);
      for (int p = 0; p < d.record.portCount; ++p) dataPorts.insert(d.record.ports[p].dataPort);
    }
    EXPECT_EQ(macs.size(), c.count) << c.label;
    EXPECT_EQ(addresses.size(), c.count) << c.label;
    EXPECT_EQ(dataPorts.size(), c.count + (c.count == 256 ? 64 : 0)) << c.label;
    const DeviceConfig& d = config.devices[c.probe];
    EXPECT_EQ(d.record.name, c.name) << c.label;
    EXPECT_EQ(corvane::protocol::MacText(d.record.mac), c.mac) << c.label;
    EXPECT_EQ(d.address, c.address) << c.label;
    EXPECT_EQ(d.record.portCount, c.ports) << c.label;
    if (c.ports == 2) {
      EXPECT_EQ(d.record.ports[1].dataPort, c.dataPort2) << c.label;
    }
    EXPECT_EQ(d.faults.lossPercent, c.lossPercent) << c.label;
  }
  // Listed devices come first; a generated one may not take a listed address.
  SimulatorConfig config;
  std::string error;
  const std::string listed = R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"198.51.100.12"}],"site":)";
  ASSERT_TRUE(ParseConfig(listed + cases[0].site + "}", config, error)) << error;
  EXPECT_EQ(config.devices.size(), 2u);
  EXPECT_EQ(config.devices[1].record.name, "site-1");
  EXPECT_FALSE(ParseConfig(listed + cases[3].site + "}", config, error));
  EXPECT_NE(error.find("clashes with a listed device"), std::string::npos) << error;
}

struct BadConfig {
  const char* label;
  const char* text;
  const char* message;
};

class ConfigErrors : public ::testing::TestWithParam<BadConfig> {};

TEST_P(ConfigErrors, AreRefusedWithAClearMessage) {
  SimulatorConfig config;
  std::string error;
  EXPECT_FALSE(ParseConfig(GetParam().text, config, error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

void PrintTo(const BadConfig& c, std::ostream* os) {
  *os << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigErrors,
    ::testing::Values(
        BadConfig{"NotJson", "{", "not valid JSON"},
        BadConfig{"NoDevices", R"({"devices":[]})", "at least one device"},
        BadConfig{"UnknownKey", R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","nmae":"x"}]})",
                  "device 1: unknown key \"nmae\""},
        BadConfig{"BadMac", R"({"devices":[{"mac":"02-00-5E","address":"1.2.3.4"}]})", "\"mac\""},
        BadConfig{"NoAddress", R"({"devices":[{"mac":"02-00-5E-01-A2-0F"}]})", "\"address\""},
        BadConfig{
            "LongName",
            R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","name":"12345678901234567"}]})",
            "more than 16"},
        BadConfig{"ThreePorts",
                  R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","ports":[{},{},{}]}]})",
                  "1 or 2 ports"},
        BadConfig{
            "PortOutOfRange",
            R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","ports":[{"dataPort":70000}]}]})",
            "port 1: \"dataPort\" must lie between 0 and 65535"},
        BadConfig{"SideChannelTwice",
                  R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4",
                      "ports":[{"sideChannel":"/tmp/s"},{"sideChannel":"/tmp/s"}]}]})",
                  "side channel \"/tmp/s\" is named twice"},
        BadConfig{"WrongType",
                  R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","dhcp":"yes"}]})",
                  "\"dhcp\" has the wrong type"},
        BadConfig{
            "BadBlock",
            R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","faults":{"dropDataBlocks":[0]}}]})",
            "block numbers"},
        BadConfig{"SiteTooLarge",
                  R"({"site":{"count":257,"firstMac":"02-00-5E-10-00-01","firstAddress":"10.1.0.1"}})",
                  "site: \"count\" must lie between 1 and 256"},
        BadConfig{"SiteFaultOfNoDevice",
                  R"({"site":{"count":3,"firstMac":"02-00-5E-10-00-01","firstAddress":"10.1.0.1",
                     "faults":[{"devices":[4],"faults":{"noAnswer":true}}]}})",
                  "site, faults 1: \"devices\" holds device numbers 1 to 3"},
        BadConfig{"SiteOutOfAddresses",
                  R"({"site":{"count":3,"firstMac":"02-00-5E-10-00-01","firstAddress":"255.255.255.253"}})",
                  "too few addresses"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Config, MissingFileIsNamed) {
  SimulatorConfig config;
  std::string error;
  EXPECT_FALSE(LoadConfigFile("/nonexistent/devsim.json", config, error));
  EXPECT_EQ(error, "cannot open /nonexistent/devsim.json");
}

int RunProgram(const std::string& args) {
  const int status = std::system((std::string(DEVSIM_PROGRAM) + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CommandLine, ExitStatuses) {
  EXPECT_EQ(RunProgram("--help"), 0);
  EXPECT_EQ(RunProgram(""), 2) << "--config is required";
  EXPECT_EQ(RunProgram("--frobnicate"), 2);
  EXPECT_EQ(RunProgram("--config /nonexistent/devsim.json"), 2);
}

}  // namespace
}  // namespace devsim
