// bootserve against real peers on a private "pc"/"dev" namespace pair: busybox's
// DHCP client takes the BOOTP reply as an offer, curl and atftp fetch the image
// byte for byte, and the simulator's boot loader gets it whole through random
// loss, duplicated and reordered acknowledgements. A missing peer skips.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "corvane/protocol/packet.h"
#include "devsim/boot_loader.h"
#include "netns.h"

extern char** environ;

namespace {

using corvane::protocol::Bytes;

bool Have(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Temp(const std::string& name) {
  return "/tmp/t10-bootserve-" + std::to_string(::getpid()) + "-" + name;
}

Bytes Image(std::size_t size, unsigned seed) {
  Bytes b(size);
  std::uint32_t x = seed;
  for (auto& v : b) v = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  return b;
}

void Write(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A child under "ip netns exec", its output in a file; every child runs under
// `timeout`, so waiting for it is bounded.
pid_t Spawn(const std::string& ns, const std::string& command, const std::string& log) {
  const std::string line = "exec ip netns exec " + ns + " " + command + " >" + log + " 2>&1";
  const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Until something listens on UDP `port` in the namespace (at most 5 s).
bool Listening(const std::string& ns, unsigned port) {
  for (int i = 0; i < 100; ++i) {
    const std::string probe =
        "ip netns exec " + ns + " ss -Hlun 'sport = :" + std::to_string(port) + "' | grep -q .";
    if (std::system(probe.c_str()) == 0) return true;
    ::usleep(50'000);
  }
  return false;
}

class BootServeRealPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
    net.emplace(std::vector<std::string>{"198.51.100.20"});
    ASSERT_TRUE(net->ok()) << net->error();
  }
  void TearDown() override {
    for (const auto& f : files) std::remove(f.c_str());
  }
  std::string File(const std::string& name) {
    files.push_back(Temp(name));
    return files.back();
  }
  std::string Serve(const std::string& args) {
    return "timeout -k 2 30 " + std::string(BOOTSERVE_PROGRAM) + " " + args;
  }
  // The veth end in the device namespace.
  std::string DeviceLink() {
    std::string name;
    FILE* p = ::popen(
        ("ip -n " + net->dev.name() + " -o link | awk -F': ' '/vd/{print $2}' | cut -d@ -f1").c_str(), "r");
    if (!p) return name;
    char line[128] = {};
    if (std::fgets(line, sizeof line, p)) name = line;
    ::pclose(p);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
    return name;
  }
  std::optional<testnet::PcDevNetwork> net;
  std::vector<std::string> files;
};

TEST_F(BootServeRealPeers, TftpClientsFetchTheImageByteForByte) {
  const struct {
    const char* tool;
    const char* command;  // %s: the output file
  } clients[] = {
      {"curl", "timeout 30 curl -sS -o %s tftp://198.51.100.1/fw.bin"},
      {"atftp", "timeout 30 atftp -g -r fw.bin -l %s 198.51.100.1"},
  };
  const Bytes image = Image(300'000, 7);
  const std::string source = File("image.bin");
  Write(source, image);
  int ran = 0;
  for (const auto& c : clients) {
    SCOPED_TRACE(c.tool);
    if (!Have(c.tool)) continue;
    ++ran;
    const std::string out = File(std::string(c.tool) + ".out"), log = File(std::string(c.tool) + ".log");
    const pid_t server = Spawn(net->pc.name(), Serve("--tftp-only --count 1 --file " + source), log);
    ASSERT_GT(server, 0);
    ASSERT_TRUE(Listening(net->pc.name(), 69));
    char command[256];
    std::snprintf(command, sizeof command, c.command, out.c_str());
    EXPECT_EQ(WaitFor(Spawn(net->dev.name(), command, File(std::string(c.tool) + ".client"))), 0);
    EXPECT_EQ(WaitFor(server), 0) << ReadText(log);
    const std::string got = ReadText(out);
    EXPECT_TRUE(got == std::string(image.begin(), image.end())) << "received " << got.size() << " bytes";
  }
  if (ran == 0) GTEST_SKIP() << "neither curl nor atftp is installed";
}

TEST_F(BootServeRealPeers, BusyboxDhcpClientTakesTheReplyAsAnOffer) {
  if (!Have("busybox")) GTEST_SKIP() << "busybox is not installed";
  const std::string source = File("offer.bin"), log = File("offer.log"), client = File("udhcpc.log");
  Write(source, Image(1000, 3));
  const pid_t server = Spawn(net->pc.name(),
                             "timeout 4 " + std::string(BOOTSERVE_PROGRAM) +
                                 " --client 198.51.100.77 --server 198.51.100.1 --file " + source,
                             log);
  ASSERT_TRUE(Listening(net->pc.name(), 67));
  // One discover, no script: udhcpc says whom it selects when it takes an offer.
  const std::string udhcpc = "timeout 10 busybox udhcpc -f -q -n -t 1 -T 2 -s /bin/true -i " + DeviceLink();
  WaitFor(Spawn(net->dev.name(), udhcpc, client));
  WaitFor(server);
  EXPECT_NE(ReadText(client).find("198.51.100.77"), std::string::npos) << ReadText(client);
}

// The simulator's boot loader, started by the upgrade request as the program
// sends it, receives the whole image through 5 % loss in each direction,
// reordered and duplicated acknowledgements.
TEST_F(BootServeRealPeers, SimulatedBootLoaderGetsTheImageWholeThroughLoss) {
  const std::string config = File("devsim.json"), source = File("fw.bin"), devlog = File("devsim.log");
  const Bytes image = Image(400'000, 11);
  Write(source, image);
  std::ofstream(config) << R"({"devices": [{"name": "dev-a", "mac": "02-00-5E-01-A2-0F",
    "address": "198.51.100.20", "ports": [{"mode": "server"}],
    "timings": {"restartMs": 100, "bootLoaderDelayMs": 0, "tftpTimeoutMs": 500, "tftpTries": 20},
    "faults": {"lossPercent": 5, "reorderPercent": 5, "duplicateAckBlocks": [3, 50, 700], "faultSeed": 42}}]})";
  const pid_t sim = Spawn(net->dev.name(),
                          "timeout -k 2 30 " + std::string(DEVSIM_PROGRAM) + " --config " + config, devlog);
  ASSERT_TRUE(Listening(net->dev.name(), 25124));
  const std::string log = File("serve.log");
  const pid_t server =
      Spawn(net->pc.name(), Serve("--client 198.51.100.20 --server 198.51.100.1 --file " + source), log);
  ASSERT_TRUE(Listening(net->pc.name(), 67));
  {
    testnet::Enter in(net->pc);
    ASSERT_TRUE(in.ok());
    const Bytes request =
        corvane::protocol::BuildUpgradeRequest("dev-a", {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F}, false);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(25124);
    ::inet_pton(AF_INET, "198.51.100.20", &to.sin_addr);
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
  }
  EXPECT_EQ(WaitFor(server), 0) << ReadText(log);
  ::kill(sim, SIGTERM);
  WaitFor(sim);
  char digest[32];
  std::snprintf(digest, sizeof digest, "digest %08x", devsim::ImageDigest(image));
  const std::string simLog = ReadText(devlog);
  EXPECT_NE(simLog.find("image of 400000 bytes received and checked, " + std::string(digest)),
            std::string::npos)
      << simLog.substr(simLog.size() > 3000 ? simLog.size() - 3000 : 0);
  EXPECT_NE(ReadText(log).find("sent again"), std::string::npos);
}

}  // namespace
