// corvanectl apply, and the wait of reboot and restore for a restarting
// device, run as a user runs them: the program in the PC namespace, devsim's
// devices in the device namespace of the same pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "ctl_fixture.h"

namespace {

constexpr const char* kOnePortIp = "198.51.100.20";
constexpr const char* kTwoPortIp = "198.51.100.21";
constexpr const char* kInUseIp = "198.51.100.22";
constexpr const char* kNoAckIp = "198.51.100.23";
constexpr const char* kIgnoresSetIp = "198.51.100.24";
constexpr const char* kSlowIp = "198.51.100.25";
constexpr const char* kSlowToo = "198.51.100.26";  // a restart lasts a minute: one per test case
constexpr const char* kBlankNameIp = "198.51.100.27";

// A device at 198.51.100.`last` whose settings all differ from the golden
// files' (but for the MAC: the first two are the golden files' devices), with
// `extra` keys (faults, timings) added.
std::string Device(const std::string& name, int last, int ports, const std::string& extra = "") {
  const std::string mac = last == 20 ? "A2-0F" : last == 21 ? "A2-10" : "B0-" + std::to_string(last);
  const std::string address = "198.51.100." + std::to_string(last);
  const auto port = [](int dataPort, int destPort, const char* state) {
    return R"({"mode": "server", "tcp": true, "udp": false, "dataPort": )" + std::to_string(dataPort) +
           R"(, "destIp": "198.51.100.1", "destPort": )" + std::to_string(destPort) +
           R"(, "baudCode": 4, "dataBitsCode": 2, "parityCode": 0, "flowCode": 0, "stopBitsCode": 1,
             "txTimerMs": 20, "rs485": true, "state": ")" +
           state + R"("})";
  };
  std::string portList = port(5001, 6001, "idle");
  if (ports == 2) portList += ", " + port(5002, 6002, "idle");
  if (name == "BUSY") portList = port(5001, 6001, "connected");
  return R"({"name": ")" + name + R"(", "mac": "02-00-5E-01-)" + mac + R"(", "address": ")" + address +
         R"(", "dhcp": false, "staticIp": ")" + address +
         R"(", "netmask": "255.255.255.0", "gateway": "198.51.100.1", "dns": "0.0.0.0", "timeoutMinutes": 1,
         "autoConnect": false, "broadcastManagement": true, "multicastManagement": true,
         "ports": [)" +
         portList + R"(], "timings": {"restartMs": 100})" + extra + "}";
}

using ctltest::ReadText;
using namespace std::string_literals;
using ctltest::Result;
using ctltest::WriteText;

// `text` with the value of line `line` (1-based) replaced, padded as a saved file pads it.
std::string WithValue(std::string text, int line, const std::string& value) {
  std::size_t start = 0;
  for (int i = 1; i < line; ++i) start = text.find('\n', start) + 1;
  std::string padded = value;
  padded.resize(std::max<std::size_t>(24, value.size()), ' ');
  return text.replace(start, 24, padded);
}

class CorvaneCtlApply : public ctltest::CtlOnPair {
 protected:
  void SetUp() override {
    CtlOnPair::SetUp();
    if (IsSkipped()) return;
    StartPair({kOnePortIp, kTwoPortIp, kInUseIp, kNoAckIp, kIgnoresSetIp, kSlowIp, kSlowToo, kBlankNameIp},
              Device("FRESH", 20, 1) + ", " + Device("PAIR", 21, 2) + ", " + Device("BUSY", 22, 1) + ", " +
                  Device("DEAF", 23, 1, R"(, "faults": {"dropReplies": [3]})") + ", " +
                  Device("STUBBORN", 24, 1, R"(, "faults": {"ignoreSet": true})") + ", " +
                  Device("SLOW", 25, 1, R"(, "timings": {"restartMs": 60000})") + ", " +
                  Device("SLOW", 26, 1, R"(, "timings": {"restartMs": 60000})") + ", " +
                  Device("LAB NORTH", 27, 1));
  }
  std::string Backup(const std::string& target, const std::string& name) {
    const std::string path = File(name);
    EXPECT_EQ(Ctl("backup " + target + " " + path).code, 0) << target;
    return ReadText(path);
  }
};

// A golden file of the device manager's save and load tests goes to the device
// and comes back from it as the same file, but for what the device itself
// decides (its address; the DNS server the two-port file leaves empty). The
// device's own earlier backup then brings everything back. The two-port file
// is sent from the second port's row, as the device manager would have to:
// its first port is a server with destination port 0, which Submit refuses.
TEST_F(CorvaneCtlApply, GoldenFilesAndBackupsMakeTheRoundTrip) {
  const struct {
    const char* target;
    const char* golden;
    const char* port;
    std::vector<std::pair<int, std::string>> deviceDecides;  // line, value
  } cases[] = {
      {kOnePortIp, "one_port.log", "", {{5, kOnePortIp}}},
      {"02-00-5E-01-A2-10", "two_port.log", "--port 2", {{6, kTwoPortIp}, {25, "0.0.0.0"}}},
  };
  for (const auto& c : cases) {
    const std::string before = Backup(c.target, "before.log");
    const std::string golden = File("golden.log");
    WriteText(golden, ReadText(std::string(SETTINGS_GOLDEN_DIR) + "/" + c.golden));
    const Result applied = Ctl(std::string("apply ") + golden + " " + c.target + " " + c.port + " --yes");
    EXPECT_EQ(applied.code, 0) << c.golden << ": " << applied.out << applied.err;
    EXPECT_TRUE(applied.out.ends_with(": ok\n")) << applied.out;
    std::string expected = ReadText(golden);
    for (const auto& [line, value] : c.deviceDecides) expected = WithValue(expected, line, value);
    EXPECT_EQ(Backup(c.target, "after.log"), expected) << c.golden;

    const std::string saved = File("before-copy.log");
    WriteText(saved, before);
    EXPECT_EQ(Ctl("apply " + saved + " " + c.target + " --yes").code, 0) << c.golden;
    EXPECT_EQ(Backup(c.target, "again.log"), before) << c.golden;
  }
}

// A backup applied unchanged changes nothing: a name the file cannot keep
// whole is not backed up at all.
TEST_F(CorvaneCtlApply, EveryBackupAppliedUnchangedChangesNothing) {
  for (const std::string target : {"198.51.100.20 ", "198.51.100.21 --port 1", "198.51.100.21 --port 2"}) {
    const std::string before = Backup(target, "before.log");
    const Result applied = Ctl("apply " + File("before.log") + " " + target + " --yes");
    EXPECT_EQ(applied.code, 0) << target << ": " << applied.out << applied.err;
    EXPECT_EQ(Backup(target, "after.log"), before) << target;
  }
  const std::string path = File("blank.log");
  const Result blank = Ctl("backup "s + kBlankNameIp + " " + path);
  EXPECT_EQ(blank.code, 4);
  EXPECT_NE(blank.err.find("(\"LAB NORTH\") holds a blank"), std::string::npos) << blank.err;
  EXPECT_FALSE(std::ifstream(path).good());
}

// The device is compared with the file by the values it takes, whichever port
// the line is for: "04002" is the port 4002.
TEST_F(CorvaneCtlApply, ValuesAreComparedAsTheDeviceTakesThem) {
  const struct {
    const char* port;
    int line;
    const char* value;
  } cases[] = {
      {"--port 2", 8, "05011"},   // port 1's data port, kept in the store
      {"--port 2", 15, "06012"},  // port 2's destination port, on the pages
      {"--port 1", 26, "03"},     // the connection timeout
  };
  for (const auto& c : cases) {
    const std::string target = std::string(kTwoPortIp) + " " + c.port;
    const std::string path = File("padded.log");
    WriteText(path, WithValue(Backup(target, "own.log"), c.line, c.value));
    const Result run = Ctl("apply " + path + " " + target + " --yes");
    EXPECT_EQ(run.code, 0) << c.value << ": " << run.out << run.err;
    EXPECT_TRUE(run.out.ends_with(": ok\n")) << run.out;
  }
}

// Files the device manager could not submit, or that are no settings file,
// are refused before any device is asked to change; the message names the line.
TEST_F(CorvaneCtlApply, BadFilesAreRefusedNamingTheLine) {
  const std::string one = ReadText(std::string(SETTINGS_GOLDEN_DIR) + "/one_port.log");
  const std::string two = ReadText(std::string(SETTINGS_GOLDEN_DIR) + "/two_port.log");
  const struct {
    std::string text;
    const char* target;
    const char* port;
    const char* message;
  } cases[] = {
      {WithValue(one, 7, "80"), kOnePortIp, "",
       "line 7 (Server data listening Port): \"80\" is not a port from 1024"},
      {WithValue(one, 11, "70000"), kOnePortIp, "",
       "line 11 (Clinet destination Port): \"70000\" is not a number"},
      {WithValue(one, 17, "255.255.0"), kOnePortIp, "",
       "line 17 (Netmask): \"255.255.0\" is not an IP address"},
      {WithValue(one, 22, "9"), kOnePortIp, "",
       "line 22 (Baud rate(bps)): \"9\" is not a number from 0 to 8"},
      {WithValue(one, 12, "2"), kOnePortIp, "", "line 12 (UDP Protocol): \"2\" is not a number from 0 to 1"},
      {WithValue(one, 1, "SEVENTEEN-LETTERS"), kOnePortIp, "", "line 1 (Device name)"},
      {WithValue(one, 1,
                 "LAB\xCC"
                 "1"),
       kOnePortIp, "",
       "line 1 (Device name): \"LAB\xCC"
       "1\" holds a byte"},
      {WithValue(one, 1, "LAB"s + '\0' + "1"), kOnePortIp, "", "holds a byte that a device name cannot keep"},
      {one.substr(0, one.find("// (27)") - 25), kOnePortIp, "", "26 lines"},
      {one + std::string(50000, ' '), kOnePortIp, "", "larger than 50000 bytes"},
      {two, kOnePortIp, "", "2 serial port(s)"},
      {two, kTwoPortIp, "--port 1", "line 14 (Port 1 Clinet destination Port): \"0\" is not a port"},
  };
  const std::string path = File("bad.log");
  for (const auto& c : cases) {
    WriteText(path, c.text);
    const Result run = Ctl("apply " + path + " " + c.target + " " + c.port + " --yes");
    EXPECT_EQ(run.code, 4) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Ctl("apply /nonexistent/settings.log 198.51.100.20 --yes").code, 4);
  WriteText(path, WithValue(one, 22, "9"));
  EXPECT_EQ(Ctl("apply " + path + " 198.51.100.20").code, 4) << "the file is checked before the question";
  WriteText(path, one);
  EXPECT_EQ(Ctl("apply " + path + " 198.51.100.20").code, 6) << "no --yes, no terminal";
  EXPECT_EQ(Ctl("apply " + path + " 198.51.100.99 --yes --wait 300").code, 3);
  EXPECT_EQ(Ctl("apply " + path + " --yes").code, 2);
  EXPECT_EQ(Ctl("apply " + path + " 198.51.100.20 --restart-wait soon").code, 2);
  EXPECT_TRUE(ReadText(log).find("settings applied") == std::string::npos);
}

// A device that cannot or does not take the settings fails the run with a line
// that says why; reboot and restore count a device that acknowledged but
// stays silent as failed as well.
TEST_F(CorvaneCtlApply, DevicesThatDoNotTakeTheSettingsFailTheRun) {
  const std::string file = File("settings.log");
  const struct {
    std::string args;
    std::string line;
  } cases[] = {
      {"apply " + file + " " + kInUseIp, "serial port 1 is in use (Connected): nothing sent"},
      {"apply " + file + " " + kNoAckIp, "the settings were not acknowledged"},
      {"apply " + file + " " + kIgnoresSetIp,
       "1 item(s) differ from " + file +
           "\n  line 21 (Transmission timer (ms)): file \"250\", device \"20\"\n"},
      {"apply " + file + " " + kSlowIp + " --restart-wait 1500",
       "acknowledged the settings, but did not answer again within 1.5 s"},
      {std::string("reboot ") + kSlowToo + " --restart-wait 1500",
       "acknowledged, but did not answer again within 1.5 s"},
  };
  for (const auto& c : cases) {
    const std::string target = c.args.substr(c.args.rfind("198.51.100."), 13);
    WriteText(file, WithValue(Backup(target, "own.log"), 21, "250"));
    const Result run = Ctl(c.args + " --yes");
    EXPECT_EQ(run.code, 1) << c.args;
    EXPECT_NE(run.out.find(c.line), std::string::npos) << c.args << ":\n" << run.out;
  }
}

}  // namespace

namespace {

constexpr const char* kFreshMac = "02-00-5E-01-A2-0F";
constexpr const char* kPairMac = "02-00-5E-01-A2-10";

// A site of two devices, one with each port count, saved whole into a folder.
class CorvaneCtlSite : public ctltest::CtlOnPair {
 protected:
  void SetUp() override {
    CtlOnPair::SetUp();
    if (IsSkipped()) return;
    StartPair({kOnePortIp, kTwoPortIp}, Device("FRESH", 20, 1) + ", " + Device("PAIR", 21, 2));
  }
  void TearDown() override {
    for (const std::string& dir : m_dirs) std::filesystem::remove_all(dir);
    CtlOnPair::TearDown();
  }
  // A new folder, removed after the test.
  std::string Dir(const std::string& name) {
    m_dirs.push_back(File(name));
    return m_dirs.back();
  }
  std::string SavedFile(const std::string& dir, const char* mac) {
    return ReadText(dir + "/" + mac + ".log");
  }

 private:
  std::vector<std::string> m_dirs;
};

// Every device is saved under its MAC and listed in the index; the folder
// applied unchanged leaves every device as it was.
TEST_F(CorvaneCtlSite, SiteBackupAppliedUnchangedChangesNothing) {
  const std::string before = Dir("before");
  const Result saved = Ctl("backup --all " + before);
  ASSERT_EQ(saved.code, 0) << saved.out << saved.err;
  const auto index = nlohmann::json::parse(ReadText(before + "/index.json"));
  ASSERT_EQ(index["devices"].size(), 2u) << index;
  for (const auto& entry : index["devices"]) {
    const std::string mac = entry["mac"];
    EXPECT_EQ(entry["file"], mac + ".log");
    EXPECT_EQ(ctltest::Count(SavedFile(before, mac.c_str()), "\n"), entry["lines"].get<std::size_t>());
  }

  const Result applied = Ctl("apply " + before + " --yes");
  EXPECT_EQ(applied.code, 0) << applied.out << applied.err;
  EXPECT_NE(applied.out.find("2 of 2 device(s) applied"), std::string::npos) << applied.out;
  EXPECT_EQ(ctltest::Count(ReadText(log), "settings applied"), 2u);

  const std::string after = Dir("after");
  ASSERT_EQ(Ctl("backup --all " + after).code, 0);
  for (const char* mac : {kFreshMac, kPairMac})
    EXPECT_EQ(SavedFile(after, mac), SavedFile(before, mac)) << mac;
}

// A dry run names each setting that would change, device's value first, and
// sends no set request; it exits 1 when something would change, 0 otherwise.
TEST_F(CorvaneCtlSite, DryRunListsExactlyTheEditedLine) {
  const std::string dir = Dir("site");
  ASSERT_EQ(Ctl("backup --all " + dir).code, 0);
  const std::string fresh = dir + "/" + kFreshMac + ".log";
  const std::string unchanged = ReadText(fresh);
  const std::string edited = "  line 21 (Transmission timer (ms)): device \"20\", file \"250\"\n";
  const struct {
    std::string args;
    bool edit;
    int code;
  } cases[] = {
      {"apply " + fresh + " " + kOnePortIp, true, 1},
      {"apply " + dir, true, 1},
      {"apply " + fresh + " " + kOnePortIp, false, 0},
      {"apply " + dir, false, 0},
  };
  for (const auto& c : cases) {
    WriteText(fresh, c.edit ? WithValue(unchanged, 21, "250") : unchanged);
    const Result run = Ctl(c.args + " --dry-run");
    EXPECT_EQ(run.code, c.code) << c.args << ":\n" << run.out << run.err;
    EXPECT_EQ(ctltest::Count(run.out, "  line "), c.edit ? 1u : 0u) << run.out;
    if (c.edit) {
      EXPECT_NE(run.out.find("("s + kOnePortIp + "): 1 setting(s) would change\n" + edited),
                std::string::npos)
          << run.out;
    }
  }
  EXPECT_EQ(ctltest::Count(ReadText(log), "settings applied"), 0u);
}

// An index that is not one, or that names a file outside its folder, is
// refused before any device is asked.
TEST_F(CorvaneCtlSite, BadIndexIsRefused) {
  const std::string dir = Dir("site");
  ASSERT_EQ(Ctl("backup --all " + dir).code, 0);
  const struct {
    std::string index;
    const char* message;
  } cases[] = {
      {"[1, 2", "is not a site backup's index"},
      {R"({"devices": [{"mac": "02-00-5E-01-A2-0F", "file": "../02-00-5E-01-A2-0F.log"}]})",
       "is not a file name within the folder"},
      {R"({"devices": [{"mac": "nobody", "file": "x.log"}]})", "is no MAC address"},
  };
  for (const auto& c : cases) {
    WriteText(dir + "/index.json", c.index);
    const Result run = Ctl("apply " + dir + " --yes");
    EXPECT_EQ(run.code, 4) << c.index;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Ctl("apply " + dir + " " + kOnePortIp + " --yes").code, 2);
  EXPECT_EQ(ctltest::Count(ReadText(log), "settings applied"), 0u);
}

// --log: each datagram sent and received, each device's result and the exit
// code, one JSON object a line; a log that cannot be opened ends the run first.
TEST_F(CorvaneCtlSite, LogHoldsEveryDatagramAndTheResult) {
  const std::string own = File("own.log");
  ASSERT_EQ(Ctl("backup "s + kOnePortIp + " " + own).code, 0);
  const std::string path = File("ops.log");
  const Result run = Ctl("apply " + own + " " + kOnePortIp + " --yes --log " + path);
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  std::vector<std::string> events;
  std::size_t sent = 0, received = 0;
  std::istringstream lines(ReadText(path));
  for (std::string line; std::getline(lines, line);) {
    const auto entry = nlohmann::json::parse(line);
    const std::string event = entry["event"];
    if (event == "sent" || event == "received") {
      EXPECT_EQ(entry["peer"].get<std::string>().rfind(kOnePortIp, 0), 0u) << line;
      EXPECT_EQ(entry["hex"].get<std::string>().size(), 2 * entry["length"].get<std::size_t>()) << line;
      ++(event == "sent" ? sent : received);
    } else {
      events.push_back(event + " " + entry["text"].get<std::string>());
    }
  }
  // The state query, the set request and at least one question after the restart; their answers.
  EXPECT_GE(sent, 3u);
  EXPECT_GE(received, 3u);
  EXPECT_EQ(events, (std::vector<std::string>{"ok applied " + own, "exit 0"}));
  EXPECT_EQ(Ctl("search --log /nonexistent/ops.log").code, 4);
}

}  // namespace
