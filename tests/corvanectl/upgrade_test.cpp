// corvanectl upgrade, search's end and search --all-adapters as a user runs them: the program
// in a PC namespace, devsim's devices (with their boot loaders) in device
// namespaces joined to it by veth pairs.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "ctl_fixture.h"
#include "devsim/boot_loader.h"
#include "dhcp_stranger.h"

namespace {

using corvane::protocol::Bytes;

using ctltest::Count;
using ctltest::ReadText;
using ctltest::Result;

// A device of devsim's configuration: one or two ports, quick restarts.
std::string Device(const std::string& name, const std::string& mac, const std::string& address, int ports,
                   const std::string& faults = "{}") {
  const std::string port = R"({"mode": "server", "dataPort": 4001})";
  return R"({"name": ")" + name + R"(", "mac": ")" + mac + R"(", "address": ")" + address +
         R"(", "ports": [)" + port + (ports == 2 ? ", " + port : "") +
         R"(], "timings": {"restartMs": 100, "bootLoaderDelayMs": 100}, "faults": )" + faults + "}";
}

using CtlOnNetwork = ctltest::CtlTest;

// `bytes` written to `path`; the path.
std::string WriteImage(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// An image of `size` bytes with a version mark the simulated devices report.
Bytes Image(std::size_t size) {
  Bytes b(size);
  std::uint32_t x = 7;
  for (auto& v : b) v = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  const std::string mark = "VERSION=4.2.1";
  std::copy(mark.begin(), mark.end(), b.begin() + 1000);
  b[1000 + mark.size()] = 0;
  return b;
}

class CtlUpgrade : public ctltest::CtlOnPair {
 protected:
  void SetUp() override {
    CtlOnPair::SetUp();
    if (IsSkipped()) return;
    StartPair({"198.51.100.20", "198.51.100.21", "198.51.100.22"},
              Device("ONE", "02-00-5E-01-B0-01", "198.51.100.20", 1) + "," +
                  Device("TWO", "02-00-5E-01-B0-02", "198.51.100.21", 2) + "," +
                  Device("LOSSY", "02-00-5E-01-B0-03", "198.51.100.22", 1,
                         R"({"lossPercent": 8, "reorderPercent": 5, "faultSeed": 11})"));
  }
};

// Each device, by address or MAC, one-port, two-port and over a lossy link,
// gets the image byte for byte and answers again; the run says so per device.
TEST_F(CtlUpgrade, DeliversTheImageByteExactToEachDevice) {
  const Bytes image = Image(70'000);
  const std::string path = WriteImage(File("fw.bin"), image);
  const Result run =
      Ctl(net->pc, "upgrade 198.51.100.20 02-00-5E-01-B0-02 198.51.100.22 --yes --image " + path);
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_TRUE(run.out.ends_with("3 of 3 device(s) upgraded\n")) << run.out;
  EXPECT_EQ(Count(run.out, " upgraded: 70000 bytes delivered"), 3u) << run.out;

  char digest[16];
  std::snprintf(digest, sizeof digest, "%08x", devsim::ImageDigest(image));
  const std::string text = ReadText(log);
  for (const char* name : {"ONE", "TWO", "LOSSY"}) {
    EXPECT_EQ(Count(text, std::string(name) +
                              ": boot loader: image of 70000 bytes received and checked, digest " + digest),
              1u)
        << name << "\n"
        << text;
    EXPECT_EQ(Count(text, std::string(name) + ": upgraded to version 4.2.1"), 1u) << name;
  }
  // The lossy link did lose packets, and the server sent blocks again.
  EXPECT_GT(Count(text, "LOSSY: boot loader: DATA block") + Count(text, "LOSSY: boot loader: ACK"), 3u);
  const auto lossy = run.out.find("198.51.100.22: ");
  ASSERT_NE(lossy, std::string::npos) << run.out;
  const std::string line = run.out.substr(lossy, run.out.find('\n', lossy) - lossy);
  EXPECT_TRUE(line.find("(137 blocks, ") != std::string::npos &&
              line.find(" 0 sent again") == std::string::npos)
      << line;
  // The two-port device was asked with the 98-byte request.
  EXPECT_EQ(Count(text, "TWO: received 98 bytes by unicast from 198.51.100.1"), 1u) << text;
}

// Another DHCP client of the LAN keeps asking while a device is upgraded: the
// device is known by its MAC address, so the stranger is offered nothing and
// the device still gets the image byte for byte.
TEST_F(CtlUpgrade, AStrangersDhcpRequestIsNotAnswered) {
  // From before the server listens until the run ends, so the stranger asks
  // before the boot loader does.
  testnet::DhcpStranger stranger(net->dev);
  ASSERT_TRUE(stranger.ok());
  stranger.KeepAsking();
  const Bytes image = Image(20'000);
  const Result run = Ctl(net->pc, "upgrade 198.51.100.20 --yes --image " + WriteImage(File("fw.bin"), image));
  stranger.Stop();
  EXPECT_EQ(run.code, 0) << run.out;
  char digest[16];
  std::snprintf(digest, sizeof digest, "%08x", devsim::ImageDigest(image));
  EXPECT_EQ(
      Count(ReadText(log),
            std::string("ONE: boot loader: image of 20000 bytes received and checked, digest ") + digest),
      1u)
      << ReadText(log);
  EXPECT_FALSE(stranger.WasOffered());
}

// An image the boot loader cannot take and a run not confirmed end before any
// device hears a word; a port that cannot be had ends the run before the
// upgrade request; a device that does not answer fails the run.
TEST_F(CtlUpgrade, RefusesBeforeTheDeviceIsTold) {
  const std::string good = WriteImage(File("good.bin"), Image(2000));
  const std::string oversize = File("oversize.bin");
  std::ofstream(oversize).close();
  ASSERT_EQ(::truncate(oversize.c_str(), 16'777'216), 0);
  const struct {
    std::string args;
    int code;
  } cases[] = {
      {"upgrade 198.51.100.20 --yes --image " + File("missing.bin"), 4},
      {"upgrade 198.51.100.20 --yes --image " + oversize, 4},
      {"upgrade 198.51.100.20 --image " + good, 6},
      {"upgrade 198.51.100.20", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(Ctl(net->pc, c.args).code, c.code) << c.args;
  EXPECT_EQ(Count(ReadText(log), "received"), 0u) << ReadText(log);

  // Port 69 held in the PC namespace by this test: the device is found, never told.
  int held = -1;
  {
    testnet::Enter inside(net->pc);
    ASSERT_TRUE(inside.ok());
    held = ::socket(AF_INET, SOCK_DGRAM, 0);
  }
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(69);
  ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  const Result busy = Ctl(net->pc, "upgrade 198.51.100.20 198.51.100.21 --yes --image " + good);
  ::close(held);
  EXPECT_EQ(busy.code, 5);
  EXPECT_EQ(busy.out, "0 of 2 device(s) upgraded\n");
  EXPECT_EQ(Count(ReadText(log), ", code 5"), 0u) << ReadText(log);

  const Result silent = Ctl(net->pc, "upgrade 198.51.100.99 --yes --wait 300 --image " + good);
  EXPECT_EQ(silent.code, 1);
  EXPECT_EQ(silent.out,
            "198.51.100.99: FAILED, no answer from 198.51.100.99\n0 of 1 device(s) upgraded; failed: "
            "198.51.100.99\n");
}

// --log during a parallel upgrade: every BOOTP and TFTP datagram the server
// sent and received, with its code and block number, and each device's result.
// Each device's DATA lines hold every block of the image, as many as the run
// says it sent.
TEST_F(CtlUpgrade, LogHoldsEveryBootDatagramSent) {
  const std::string path = File("ops.log");
  const Result run = Ctl(net->pc, "upgrade 198.51.100.20 198.51.100.21 --yes --log " + path + " --image " +
                                      WriteImage(File("fw.bin"), Image(5000)));
  ASSERT_EQ(run.code, 0) << run.out;

  struct Seen {
    std::multiset<unsigned> dataBlocks;
    int bootpRequests = 0, bootpReplies = 0, readRequests = 0, upgradeRequests = 0;
  };
  std::map<std::string, Seen> seen;  // by device address; a BOOTP line by its chaddr
  std::vector<std::string> results;
  std::istringstream lines(ReadText(path));
  for (std::string line; std::getline(lines, line);) {
    const auto entry = nlohmann::json::parse(line);
    const std::string event = entry["event"];
    if (event == "ok") results.push_back(entry["device"]);
    if (event != "sent" && event != "received") continue;
    const std::string protocol = entry.value("protocol", "device");
    const std::string peer = entry["peer"], hex = entry["hex"];
    const std::string address = peer.substr(0, peer.find(':'));
    const unsigned code = entry["code"], length = entry["length"];
    const bool data = protocol == "tftp" && code == 3;
    EXPECT_EQ(hex.size(), 2 * (data ? std::min(length, 20u) : length)) << line;
    if (protocol == "bootp") {
      const std::string chaddr = hex.substr(2 * 28, 12);
      ++(code == 1 ? seen[chaddr].bootpRequests : seen[chaddr].bootpReplies);
      EXPECT_EQ(event, code == 1 ? "received" : "sent") << line;
    } else if (protocol == "tftp" && event == "sent") {
      EXPECT_TRUE(data) << line;
      EXPECT_EQ(entry["block"], std::stoul(hex.substr(4, 4), nullptr, 16)) << line;
      seen[address].dataBlocks.insert(entry["block"].get<unsigned>());
    } else if (protocol == "tftp" && code == 1) {
      ++seen[address].readRequests;
    } else if (protocol == "device" && code == 5) {
      ++seen[address].upgradeRequests;
    }
  }

  EXPECT_EQ(results, (std::vector<std::string>{"02-00-5E-01-B0-01 (198.51.100.20)",
                                               "02-00-5E-01-B0-02 (198.51.100.21)"}));
  const std::set<unsigned> everyBlock{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // 5000 bytes
  const struct {
    std::string address, mac;  // the MAC as the hex of a BOOTP chaddr
  } devices[] = {{"198.51.100.20", "02005e01b001"}, {"198.51.100.21", "02005e01b002"}};
  for (const auto& [address, mac] : devices) {
    // The run's own count: "(10 blocks, 0 sent again)".
    const std::string said = address + ") upgraded: 5000 bytes delivered (";
    const auto at = run.out.find(said);
    ASSERT_NE(at, std::string::npos) << run.out;
    unsigned blocks = 0, again = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + at + said.size(), "%u blocks, %u sent again", &blocks, &again),
              2);
    const Seen& s = seen[address];
    EXPECT_EQ(std::set<unsigned>(s.dataBlocks.begin(), s.dataBlocks.end()), everyBlock) << address;
    EXPECT_EQ(s.dataBlocks.size(), blocks + again) << address;
    EXPECT_EQ(s.upgradeRequests, 1) << address;
    EXPECT_GE(s.readRequests, 1) << address;
    EXPECT_GE(seen[mac].bootpRequests, 1) << mac;
    EXPECT_GE(seen[mac].bootpReplies, 1) << mac;
  }
}

// Eight devices served at once by one server: one over a lossy link, one
// that never enters its boot loader, and a stranger asking for an address all
// along. Every device that asks gets the image byte for byte, none waits for
// another, the silent one is named and fails the run, the stranger gets nothing.
using CtlSite = ctltest::CtlOnPair;

TEST_F(CtlSite, UpgradesAtOnceAndNamesTheDeviceThatFailed) {
  std::vector<std::string> addresses;
  for (int i = 0; i < 8; ++i) addresses.push_back("198.51.100." + std::to_string(40 + i));
  StartPair(addresses, "",
            R"({"count": 8, "firstMac": "02-00-5E-22-00-01", "firstAddress": "198.51.100.40",
                        "timings": {"restartMs": 100, "bootLoaderDelayMs": 100},
                        "faults": [{"devices": [3], "faults": {"lossPercent": 10, "faultSeed": 5}},
                                   {"devices": [6], "faults": {"ignoreUpgrade": true}}]})");
  if (HasFatalFailure()) return;
  testnet::DhcpStranger stranger(net->dev);
  ASSERT_TRUE(stranger.ok());
  stranger.KeepAsking();
  const Bytes image = Image(30'000);
  std::string targets;
  for (const auto& a : addresses) targets += a + " ";
  const Result run =
      Ctl(net->pc, "upgrade " + targets + "--parallel 8 --yes --image " + WriteImage(File("fw.bin"), image));
  stranger.Stop();

  EXPECT_EQ(run.code, 1) << run.out;
  EXPECT_TRUE(run.out.ends_with("7 of 8 device(s) upgraded; failed: 198.51.100.45\n")) << run.out;
  EXPECT_EQ(Count(run.out, "198.51.100.45: FAILED, "), 1u) << run.out;
  const auto lossy = run.out.find("198.51.100.42: ");
  ASSERT_NE(lossy, std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(" 0 sent again", lossy), run.out.find(" 0 sent again", run.out.find('\n', lossy)))
      << "the lossy device's blocks were sent again";
  char digest[16];
  std::snprintf(digest, sizeof digest, "%08x", devsim::ImageDigest(image));
  const std::string text = ReadText(log);
  EXPECT_EQ(
      Count(text, std::string("boot loader: image of 30000 bytes received and checked, digest ") + digest),
      7u)
      << text;
  // All seven were being served before the first image was whole.
  EXPECT_EQ(Count(text, "entering the boot loader"), 7u) << text;
  const std::string asked = "boot loader: TFTP read request sent";
  EXPECT_EQ(Count(text, asked), 7u) << text;
  EXPECT_LT(text.rfind(asked), text.find("received and checked")) << text;
  EXPECT_FALSE(stranger.WasOffered());
}

using CtlSearch = ctltest::CtlOnPair;

// Answers spread over more than the wait, each within the wait of the one
// before (as a large site's do on a busy machine): the search ends only after
// a quiet spell, so every device is listed.
TEST_F(CtlSearch, EndsAfterAQuietSpellNotAtAFixedTime) {
  std::vector<std::string> addresses;
  std::string devices;
  for (int i = 0; i < 4; ++i) {
    addresses.push_back("198.51.100." + std::to_string(30 + i));
    devices +=
        (i ? "," : "") + Device("D" + std::to_string(i), "02-00-5E-01-D0-0" + std::to_string(i),
                                addresses.back(), 1, R"({"replyDelayMs": )" + std::to_string(300 * i) + "}");
  }
  StartPair(addresses, devices);
  const Result run = Ctl("search --json --wait 500");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out).size(), 4u) << run.out;
}

// Two networks on two adapters: the limited broadcast leaves by the default
// route only (or not at all without one); --all-adapters reaches the devices
// behind both, each listed once.
TEST_F(CtlOnNetwork, AllAdaptersFindsTheDevicesOfEveryNetworkOnce) {
  testnet::Namespace pc("pc"), devA("deva"), devB("devb");
  ASSERT_TRUE(pc.ok() && devA.ok() && devB.ok());
  const std::string tag = std::to_string(::getpid());
  const auto link = [&](const std::string& side, const testnet::Namespace& dev, const std::string& net) {
    const std::string p = "ua" + side + tag, d = "ub" + side + tag;
    return std::system(("ip link add " + p + " netns " + pc.name() + " type veth peer name " + d + " netns " +
                        dev.name() + " >/dev/null 2>&1")
                           .c_str()) == 0 &&
           pc.Ip("addr add " + net + ".1/24 brd + dev " + p) && pc.Ip("link set " + p + " up") &&
           dev.Ip("addr add " + net + ".20/24 brd + dev " + d) &&
           dev.Ip("addr add " + net + ".21/24 dev " + d) && dev.Ip("link set " + d + " up");
  };
  ASSERT_TRUE(link("a", devA, "198.51.100") && link("b", devB, "203.0.113"));
  ASSERT_TRUE(pc.Ip("route add default dev uaa" + tag));
  StartDevsim(devA, Device("A1", "02-00-5E-01-C0-01", "198.51.100.20", 1) + "," +
                        Device("A2", "02-00-5E-01-C0-02", "198.51.100.21", 2));
  StartDevsim(devB, Device("B1", "02-00-5E-01-C0-03", "203.0.113.20", 1) + "," +
                        Device("B2", "02-00-5E-01-C0-04", "203.0.113.21", 2));

  const struct {
    const char* args;
    std::multiset<std::string> macs;  // one per serial port
  } cases[] = {
      {"", {"02-00-5E-01-C0-01", "02-00-5E-01-C0-02", "02-00-5E-01-C0-02"}},
      {"--all-adapters",
       {"02-00-5E-01-C0-01", "02-00-5E-01-C0-02", "02-00-5E-01-C0-02", "02-00-5E-01-C0-03",
        "02-00-5E-01-C0-04", "02-00-5E-01-C0-04"}},
  };
  for (const auto& c : cases) {
    const Result run = Ctl(pc, std::string("search --json --wait 500 ") + c.args);
    ASSERT_EQ(run.code, 0) << c.args;
    std::multiset<std::string> macs;
    for (const auto& row : nlohmann::json::parse(run.out)) macs.insert(row["mac"].get<std::string>());
    EXPECT_EQ(macs, c.macs) << c.args;
  }
  EXPECT_EQ(Ctl(pc, "search --all-adapters --multicast").code, 2);
  // Without a default route the limited broadcast cannot leave at all; the
  // adapters' own broadcasts still reach every device.
  ASSERT_TRUE(pc.Ip("route del default"));
  EXPECT_EQ(Ctl(pc, "search --wait 300").code, 5);
  const Result run = Ctl(pc, "search --json --wait 500 --all-adapters");
  ASSERT_EQ(run.code, 0);
  EXPECT_EQ(nlohmann::json::parse(run.out).size(), cases[1].macs.size()) << run.out;
}

}  // namespace
