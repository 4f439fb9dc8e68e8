// The simulator's configuration file and its command line.
#include <gtest/gtest.h>

#include <cstdlib>
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
      "timings":{"restartMs":10},"ports":[{"state":"unknown"}]}]})",
                          config, error))
      << error;
  const auto& d = config.devices[0];
  EXPECT_TRUE(d.faults.wrongMagic);
  EXPECT_EQ(d.faults.oversizeReply, 300);
  EXPECT_EQ(d.faults.dropDataBlocks, (std::set<int>{2, 5}));
  EXPECT_EQ(d.timings.restartMs, 10);
  EXPECT_EQ(d.record.ports[0].state, 2);
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
        BadConfig{"WrongType",
                  R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","dhcp":"yes"}]})",
                  "\"dhcp\" has the wrong type"},
        BadConfig{
            "BadBlock",
            R"({"devices":[{"mac":"02-00-5E-01-A2-0F","address":"1.2.3.4","faults":{"dropDataBlocks":[0]}}]})",
            "block numbers"}),
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
