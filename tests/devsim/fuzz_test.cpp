// Hostile input for the simulator: random and mutated management requests fed
// to a device in-process, BOOTP replies and TFTP packets fed to the boot
// loader, and mutations of the example configuration. A fixed seed makes every
// run the same; the sanitizers catch reads outside a buffer, the checks below
// the behaviour each input must leave intact.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "devsim/address.h"
#include "devsim/boot_loader.h"
#include "devsim/config.h"
#include "devsim/device.h"

namespace devsim {
namespace {

using namespace corvane::protocol;
using Raw = std::vector<std::uint8_t>;
using nlohmann::json;

constexpr int kCases = 3000;
const MacAddress kOwnMac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
const MacAddress kOtherMac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x10};

class Fuzzer {
 public:
  explicit Fuzzer(unsigned seed) : m_rng(seed) {}

  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_rng); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Int(0, 255)); }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  std::size_t Index(std::size_t size) { return static_cast<std::size_t>(Int(0, static_cast<int>(size) - 1)); }

  Raw RandomBytes(std::size_t n) {
    Raw b(n);
    for (auto& x : b) x = Byte();
    return b;
  }

  std::string Text(int maxLength) {
    static const std::string kChars = "abcXYZ019-_.:\" \\/{}[],\t\x01\x7f\xc3\xa9";
    std::string s(static_cast<std::size_t>(Int(0, maxLength)), ' ');
    for (auto& c : s) c = kChars[Index(kChars.size())];
    return s;
  }

  // Flipped bytes, truncation or random bytes appended.
  void Mutate(Raw& b) {
    const int n = Int(0, 3);
    for (int i = 0; i < n; ++i) {
      const int kind = Int(0, 3);
      if (kind <= 1 && !b.empty()) b[Index(b.size())] ^= static_cast<std::uint8_t>(1 << Int(0, 7));
      if (kind == 2) b.resize(static_cast<std::size_t>(Int(0, static_cast<int>(b.size()))));
      if (kind == 3) {
        const Raw tail = RandomBytes(static_cast<std::size_t>(Int(1, 64)));
        b.insert(b.end(), tail.begin(), tail.end());
      }
    }
  }

 private:
  std::mt19937 m_rng;
};

// ---- management requests ---------------------------------------------------------

DeviceConfig DeviceUnderTest(Fuzzer& f) {
  DeviceConfig c;
  DeviceRecord& r = c.record;
  r.name = "dev-a";
  r.mac = kOwnMac;
  r.staticIp = 0xC633640A;
  r.netmask = 0xFFFFFF00;
  r.portCount = f.Chance(50) ? 2 : 1;
  r.broadcastMgmt = f.Chance(80);
  r.multicastMgmt = f.Chance(80);
  r.ports[0].state = kStateConnected;
  c.address = "198.51.100.10";
  c.timings.restartMs = 100;
  c.timings.bootLoaderDelayMs = 10;
  c.timings.bootpRetryMs = 10;
  c.timings.bootpTries = 2;
  return c;
}

// A request of every kind, for this device or another, then mutated.
Raw Request(Fuzzer& f) {
  const MacAddress& mac = f.Chance(60) ? kOwnMac : kOtherMac;
  const bool two = f.Chance(50);
  Raw b;
  switch (f.Int(0, 6)) {
    case 0:
      b = BuildSearchRequest();
      break;
    case 1: {
      DeviceRecord r;
      r.name = f.Text(20);
      r.mac = mac;
      r.staticIp = static_cast<std::uint32_t>(f.Int(0, 0x7FFFFFFF));
      r.dhcp = f.Chance(50);
      r.portCount = two ? 2 : 1;
      b = BuildSetRequest(r);
      break;
    }
    case 2:
      b = BuildRestoreRequest(f.Text(20), mac, two);
      break;
    case 3:
      b = BuildRebootRequest(f.Text(20), mac, two);
      break;
    case 4:
      b = BuildUpgradeRequest(f.Text(20), mac, two);
      break;
    case 5:
      b = f.RandomBytes(static_cast<std::size_t>(f.Int(0, 120)));
      break;
    default:  // the magic and a random code over random bytes
      b = f.RandomBytes(static_cast<std::size_t>(f.Int(9, 120)));
      std::memcpy(b.data(), kMagic, kMagicSize);
      break;
  }
  if (f.Chance(50)) f.Mutate(b);
  return b;
}

struct Expectation {
  int answer = -1;  // reply code, -1: none
  bool changes = false;
};

// What the device should make of `b`, worked out from the request alone.
Expectation Expect(const Raw& b, const DeviceRecord& r, Listener via) {
  Expectation e;
  if (b.size() < kSearchRequestSize || std::memcmp(b.data(), kMagic, kMagicSize) != 0) return e;
  if (via == Listener::Broadcast && !r.broadcastMgmt) return e;
  if (via == Listener::Multicast && !r.multicastMgmt) return e;
  const bool mine =
      b.size() >= off::kMac + kMacSize && std::equal(kOwnMac.begin(), kOwnMac.end(), &b[off::kMac]);
  switch (b[off::kCode]) {
    case 0x00:
      e.answer = kReplySearch;
      break;
    case 0x02:
      if (mine && b.size() >= kOnePortRecordSize) e = {kReplySet, true};
      break;
    case 0x08:
      if (mine) e = {kReplyRestore, true};
      break;
    case 0x0B:
      if (mine) e = {kReplyReboot, true};
      break;
    case 0x05:
      e.changes = mine;
      break;
    default:
      break;
  }
  return e;
}

// A reply carries the device's whole record in the layout of its port count.
void CheckReply(const Outgoing& o, const Device& d, int code, const std::string& caseText) {
  const Raw& b = o.bytes;
  const bool two = d.record().portCount == 2;
  ASSERT_EQ(o.channel, Channel::Management) << caseText;
  ASSERT_EQ(o.address, "198.51.100.1") << caseText;
  ASSERT_EQ(o.port, 25120u) << caseText;
  ASSERT_EQ(b.size(), two ? kTwoPortRecordSize : kOnePortRecordSize) << caseText;
  ASSERT_EQ(std::memcmp(b.data(), kMagic, kMagicSize), 0) << caseText;
  ASSERT_EQ(b[off::kCode], code) << caseText;
  ASSERT_EQ(b[off::kFlags] & ~kFlagAutoConnect, 0) << caseText;
  ASSERT_TRUE(std::equal(kOwnMac.begin(), kOwnMac.end(), &b[off::kMac])) << caseText;
  if (two) {
    ASSERT_EQ(std::memcmp(b.data() + off::kMagic2, kMagic, kMagicSize), 0) << caseText;
  }
  Raw expected = EncodeRecord(d.record());
  expected[off::kCode] = static_cast<std::uint8_t>(code);
  expected[off::kFlags] = d.record().flags & kFlagAutoConnect;
  ASSERT_EQ(b, expected) << caseText;
}

TEST(DeviceFuzz, AnswersOnlyWellFormedRequestsAndChangesOnlyForItsMac) {
  Fuzzer f(4001);
  const Listener listeners[] = {Listener::Broadcast, Listener::Multicast, Listener::Unicast};
  int answered = 0, changed = 0;
  for (int i = 0; i < kCases; ++i) {
    Device d(DeviceUnderTest(f));
    const Listener via = listeners[f.Int(0, 2)];
    const Raw b = Request(f);
    const Raw before = EncodeRecord(d.record());
    const Expectation e = Expect(b, d.record(), via);
    const std::string caseText = "case " + std::to_string(i) + ", " + std::to_string(b.size()) + " bytes";
    std::vector<Outgoing> out;
    d.OnManagement(via, b, "198.51.100.1", 25120, 1000, out);

    ASSERT_EQ(out.size(), e.answer < 0 ? 0u : 1u) << caseText;
    if (e.answer >= 0) {
      ++answered;
      CheckReply(out[0], d, e.answer, caseText);
    }
    ASSERT_EQ(d.phase() != Phase::Running, e.changes) << caseText;
    if (!e.changes || b[off::kCode] != 0x02) {
      // Only a set for this device changes the record; restore restores the
      // same factory record the device started with.
      ASSERT_EQ(EncodeRecord(d.record()), before) << caseText;
      continue;
    }
    ++changed;
    // A set never moves the device's identity or its live state.
    ASSERT_EQ(d.record().mac, kOwnMac) << caseText;
    ASSERT_EQ(d.record().dynamicIp, 0xC633640Au) << caseText;
    ASSERT_EQ(d.record().ports[0].state, kStateConnected) << caseText;
    ASSERT_LE(d.record().name.size(), kNameSize) << caseText;
    ASSERT_EQ(d.address(), "198.51.100.10") << caseText;
  }
  EXPECT_GT(answered, kCases / 5);
  EXPECT_GT(changed, kCases / 20);
}

// One device over a long stream of requests and time: restarts end, the boot
// loader times out, and the device keeps its MAC, its port count and well
// formed replies throughout.
TEST(DeviceFuzz, AStreamOfHostileRequestsNeverBreaksTheDevice) {
  Fuzzer f(4002);
  Device d(DeviceUnderTest(f));
  const int ports = d.record().portCount;
  std::uint64_t now = 0;
  for (int i = 0; i < kCases; ++i) {
    now += static_cast<std::uint64_t>(f.Int(0, 60));
    std::vector<Outgoing> out;
    d.Tick(now, out);
    if (d.TakeAddressChange()) d.AddressChangeFailed("198.51.100.10");
    for (const Outgoing& o : out) ASSERT_NE(o.channel, Channel::Management) << "case " << i;
    out.clear();
    const Raw b = Request(f);
    const Listener via = f.Chance(50) ? Listener::Unicast : Listener::Broadcast;
    d.OnManagement(via, b, "198.51.100.1", 25120, now, out);
    if (f.Chance(20)) d.OnBootp(f.RandomBytes(static_cast<std::size_t>(f.Int(0, 400))), now, out);
    if (f.Chance(20))
      d.OnTftp(f.RandomBytes(static_cast<std::size_t>(f.Int(0, 600))), "198.51.100.1", 69, now, out);
    for (const Outgoing& o : out) {
      if (o.channel != Channel::Management) continue;
      ASSERT_TRUE(o.bytes[off::kCode] == kReplySearch || o.bytes[off::kCode] == kReplySet ||
                  o.bytes[off::kCode] == kReplyRestore || o.bytes[off::kCode] == kReplyReboot);
      CheckReply(o, d, o.bytes[off::kCode], "case " + std::to_string(i));
    }
    ASSERT_EQ(d.record().mac, kOwnMac);
    ASSERT_EQ(d.record().portCount, ports);
    ASSERT_LE(d.record().name.size(), kNameSize);
    d.TakeLog();
  }
}

// ---- the boot loader -------------------------------------------------------------

constexpr std::uint32_t kXid = 0x11223344;
constexpr std::uint32_t kServer = 0xC6336401;  // 198.51.100.1
constexpr unsigned kServerTid = 40000;

BootLoaderSettings LoaderSettings() {
  BootLoaderSettings s;
  s.mac = kOwnMac;
  s.xid = kXid;
  return s;
}

Raw ValidBootpReply(Fuzzer& f, const Raw& request, std::uint32_t siaddr) {
  Raw r = request;
  r.resize(static_cast<std::size_t>(f.Int(240, 548)), 0);
  r[bootp::kOp] = bootp::kBootReply;
  PutIPv4(r, bootp::kYiaddr, static_cast<std::uint32_t>(f.Int(0, 0x7FFFFFFF)));
  PutIPv4(r, bootp::kSiaddr, siaddr);
  const std::string file = f.Text(130);
  for (std::size_t i = 0; i < file.size() && i < bootp::kFileSize; ++i)
    r[bootp::kFile + i] = static_cast<std::uint8_t>(file[i]);
  for (std::size_t i = bootp::kOptions; i < r.size(); ++i) r[i] = f.Byte();  // hostile options
  return r;
}

TEST(BootLoaderFuzz, BootpRepliesCountOnlyWhenTheyMatchTheRequest) {
  Fuzzer f(5001);
  int accepted = 0;
  for (int i = 0; i < kCases; ++i) {
    BootLoaderClient c(LoaderSettings(), [](const std::string&) {});
    std::vector<BootLoaderSend> out;
    c.Start(0, out);
    Raw r = ValidBootpReply(f, out[0].bytes, f.Chance(90) ? kServer : 0);
    if (f.Chance(60)) f.Mutate(r);
    if (f.Chance(20)) r = f.RandomBytes(static_cast<std::size_t>(f.Int(0, 600)));
    out.clear();
    c.OnBootp(r, 5, out);

    const bool matches = r.size() >= bootp::kOptions && r[bootp::kOp] == bootp::kBootReply &&
                         GetIPv4(r, bootp::kXid) == kXid &&
                         std::equal(kOwnMac.begin(), kOwnMac.end(), &r[bootp::kChaddr]);
    if (!matches) {
      ASSERT_EQ(c.state(), BootLoaderClient::State::WaitingBootp) << "case " << i;
      ASSERT_TRUE(out.empty());
      continue;
    }
    ++accepted;
    ASSERT_EQ(c.offeredAddress(), GetIPv4(r, bootp::kYiaddr));
    std::string file;
    for (std::size_t k = 0; k < bootp::kFileSize && r[bootp::kFile + k] != 0; ++k)
      file += static_cast<char>(r[bootp::kFile + k]);
    ASSERT_EQ(c.fileName(), file);
    if (GetIPv4(r, bootp::kSiaddr) == 0) {
      ASSERT_EQ(c.state(), BootLoaderClient::State::Failed);
      ASSERT_TRUE(out.empty());
      continue;
    }
    ASSERT_EQ(c.state(), BootLoaderClient::State::Transferring);
    ASSERT_EQ(out.size(), 1u);
    Raw rrq = {0, 1};
    rrq.insert(rrq.end(), file.begin(), file.end());
    for (char ch : std::string("\0octet\0", 7)) rrq.push_back(static_cast<std::uint8_t>(ch));
    ASSERT_EQ(out[0].bytes, rrq);
    ASSERT_EQ(out[0].address, Dotted(GetIPv4(r, bootp::kSiaddr)));
    ASSERT_EQ(out[0].port, 69u);
  }
  EXPECT_GT(accepted, kCases / 4);
}

Raw DataPacket(std::uint16_t block, const Raw& payload) {
  Raw d = {0, 3, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

// A stray packet of any kind from another address or port: ERROR, DATA of
// any length, garbage.
Raw StrayPacket(Fuzzer& f) {
  Raw b = f.RandomBytes(static_cast<std::size_t>(f.Int(0, 700)));
  if (b.size() >= 2 && f.Chance(70)) {
    b[0] = 0;
    b[1] = static_cast<std::uint8_t>(f.Chance(50) ? tftp::kError : tftp::kData);
  }
  return b;
}

// The server's clean transfer, with stray packets from other sources between
// its packets: the stray ones change nothing, and the image arrives whole.
TEST(BootLoaderFuzz, PacketsFromAnotherSourceNeverDisturbTheTransfer) {
  Fuzzer f(5002);
  for (int i = 0; i < 300; ++i) {
    BootLoaderClient c(LoaderSettings(), [](const std::string&) {});
    std::vector<BootLoaderSend> out;
    c.Start(0, out);
    Raw reply = ValidBootpReply(f, out[0].bytes, kServer);
    reply.resize(bootp::kOptions);
    c.OnBootp(reply, 0, out);
    ASSERT_EQ(c.state(), BootLoaderClient::State::Transferring);

    const int blocks = f.Int(1, 6);
    Raw image;
    for (int block = 1; block <= blocks; ++block) {
      const std::size_t size =
          block < blocks ? tftp::kBlockSize : static_cast<std::size_t>(f.Int(blocks == 1 ? 1 : 0, 511));
      const Raw payload = f.RandomBytes(size);
      image.insert(image.end(), payload.begin(), payload.end());
      out.clear();
      c.OnTftp(DataPacket(static_cast<std::uint16_t>(block), payload), "198.51.100.1", kServerTid, 0, out);
      ASSERT_EQ(out.size(), 1u) << "case " << i << ", block " << block;
      ASSERT_EQ(out[0].bytes,
                (Raw{0, 4, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)}));
      ASSERT_EQ(out[0].address, "198.51.100.1");
      ASSERT_EQ(out[0].port, kServerTid);
      if (block == blocks) break;
      const int strays = f.Int(0, 3);
      for (int s = 0; s < strays; ++s) {
        const bool otherPort = f.Chance(50);
        const Raw stray = StrayPacket(f);
        out.clear();
        c.OnTftp(stray, otherPort ? "198.51.100.1" : "198.51.100.99", otherPort ? kServerTid + 1 : kServerTid,
                 0, out);
        ASSERT_TRUE(out.empty()) << "case " << i << ", a stray packet of " << stray.size() << " bytes";
        ASSERT_EQ(c.state(), BootLoaderClient::State::Transferring)
            << "case " << i << ", a stray packet of " << stray.size() << " bytes, opcode "
            << (stray.size() >= 2 ? stray[1] : -1) << ": " << c.failure();
      }
    }
    ASSERT_EQ(c.state(), BootLoaderClient::State::Done) << "case " << i << ": " << c.failure();
    ASSERT_EQ(c.image(), image);
  }
}

// Mutated packets from the server itself: the client may fail the transfer,
// but only ever acknowledges to the server and never takes more than the
// blocks it acknowledged.
TEST(BootLoaderFuzz, MutatedServerPacketsNeverOverrunTheImage) {
  Fuzzer f(5003);
  for (int i = 0; i < 500; ++i) {
    BootLoaderClient c(LoaderSettings(), [](const std::string&) {});
    std::vector<BootLoaderSend> out;
    c.Start(0, out);
    Raw reply = ValidBootpReply(f, out[0].bytes, kServer);
    c.OnBootp(reply, 0, out);
    if (c.state() != BootLoaderClient::State::Transferring) continue;
    std::size_t acked = 0;
    for (int k = 0; k < 12; ++k) {
      Raw p = DataPacket(
          static_cast<std::uint16_t>(f.Int(0, 4)),
          f.RandomBytes(f.Chance(80) ? tftp::kBlockSize : static_cast<std::size_t>(f.Int(0, 511))));
      f.Mutate(p);
      out.clear();
      const auto state = c.state();
      const std::size_t imageBefore = c.image().size();
      c.OnTftp(p, "198.51.100.1", kServerTid, static_cast<std::uint64_t>(k), out);
      if (state == BootLoaderClient::State::Failed) {
        ASSERT_TRUE(out.empty());
      }
      if (state == BootLoaderClient::State::Done) {  // at most the last block acknowledged again
        ASSERT_LE(out.size(), 1u);
        ASSERT_EQ(c.image().size(), imageBefore);
        if (!out.empty()) {
          ASSERT_EQ(Get16(out[0].bytes, 2), acked);
        }
      }
      for (const auto& o : out) {
        ASSERT_EQ(o.bytes.size(), 4u);
        ASSERT_EQ(Get16(o.bytes, 0), tftp::kAck);
        ASSERT_EQ(o.port, kServerTid);
        acked = std::max<std::size_t>(acked, Get16(o.bytes, 2));
      }
      ASSERT_LE(c.image().size(), acked * tftp::kBlockSize) << "case " << i;
    }
  }
}

// The two stray packets the fuzzing above first tripped over, kept as plain
// cases: an ERROR and an over-long DATA from a port that is not the server's.
TEST(BootLoaderFuzz, StrayErrorOrLongDataFromAnotherPortKeepsTheTransfer) {
  for (const Raw& stray : {Raw{0, 5, 0, 1, 'x', 0}, DataPacket(2, Raw(600, 0x11))}) {
    Fuzzer f(5005);
    BootLoaderClient c(LoaderSettings(), [](const std::string&) {});
    std::vector<BootLoaderSend> out;
    c.Start(0, out);
    Raw reply = ValidBootpReply(f, out[0].bytes, kServer);
    reply.resize(bootp::kOptions);
    c.OnBootp(reply, 0, out);
    c.OnTftp(DataPacket(1, Raw(tftp::kBlockSize, 0x22)), "198.51.100.1", kServerTid, 0, out);
    out.clear();
    c.OnTftp(stray, "198.51.100.1", kServerTid + 1, 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(c.state(), BootLoaderClient::State::Transferring) << c.failure();
    c.OnTftp(DataPacket(2, Raw(3, 0x33)), "198.51.100.1", kServerTid, 0, out);
    EXPECT_EQ(c.state(), BootLoaderClient::State::Done) << c.failure();
    EXPECT_EQ(c.image().size(), tftp::kBlockSize + 3);
  }
}

TEST(BootLoaderFuzz, ImageVersionIsShortPrintableText) {
  Fuzzer f(5004);
  for (int i = 0; i < kCases; ++i) {
    Raw image = f.RandomBytes(static_cast<std::size_t>(f.Int(0, 200)));
    const std::string key = "VERSION=";
    if (f.Chance(70)) {
      const std::size_t at = static_cast<std::size_t>(f.Int(0, static_cast<int>(image.size())));
      image.insert(image.begin() + static_cast<std::ptrdiff_t>(at), key.begin(), key.end());
      if (f.Chance(30))
        image.resize(at + static_cast<std::size_t>(f.Int(0, 8)));  // cut inside or right after the key
    }
    const std::string v = ImageVersion(image);
    ASSERT_LE(v.size(), 32u);
    for (char c : v) ASSERT_TRUE(c >= 0x21 && c <= 0x7E) << "case " << i;
  }
}

// ---- the configuration file ------------------------------------------------------

std::string ExampleText() {
  std::ifstream in(std::string(DEVSIM_EXAMPLES_DIR) + "/two-devices.json", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

json RandomValue(Fuzzer& f) {
  switch (f.Int(0, 9)) {
    case 0:
      return nullptr;
    case 1:
      return f.Chance(50);
    case 2:
      return f.Int(-70000, 70000);
    case 3:
      return f.Chance(50) ? json(std::uint64_t{18446744073709551615u})
                          : json(std::int64_t{-9223372036854775807 - 1});
    case 4:
      return f.Chance(50) ? 1e30 : (f.Chance(50) ? 4001.5 : -1e300);
    case 5:
      return f.Text(24);
    case 6:
      return json::array({f.Int(-3, 70000), f.Text(3)});
    case 7:
      return json::object({{f.Text(4), f.Int(0, 9)}});
    case 8: {  // MAC-like text, sometimes off by a character
      MacAddress mac{};
      for (auto& x : mac) x = f.Byte();
      std::string text = MacText(mac);
      if (f.Chance(60)) text[f.Index(text.size())] = "g:-. 0"[f.Int(0, 5)];
      return text;
    }
    default: {  // an address, sometimes out of range
      return std::to_string(f.Int(0, 300)) + "." + std::to_string(f.Int(0, 255)) + ".0." +
             std::to_string(f.Int(0, 256));
    }
  }
}

// Every place in the document that holds a value, as JSON pointers.
void Paths(const json& j, const json::json_pointer& at, std::vector<json::json_pointer>& out) {
  out.push_back(at);
  if (j.is_object()) {
    for (const auto& item : j.items()) Paths(item.value(), at / item.key(), out);
  } else if (j.is_array()) {
    for (std::size_t i = 0; i < j.size(); ++i) Paths(j[i], at / i, out);
  }
}

bool IntIn(const json& object, const char* key, long low, long high) {
  if (!object.contains(key)) return true;
  const json& v = object.at(key);
  return v.is_number_integer() && v.get<long>() >= low && v.get<long>() <= high;
}

bool DottedField(const json& object, const char* key, bool required) {
  if (!object.contains(key)) return !required;
  in_addr a{};
  return object.at(key).is_string() && inet_pton(AF_INET, object.at(key).get<std::string>().c_str(), &a) == 1;
}

// The file's own rules, checked on the document independently of the loader:
// a document that breaks one of them must never be accepted.
std::string BrokenRule(const json& doc) {
  if (!doc.is_object() || !doc.contains("devices") || !doc["devices"].is_array() || doc["devices"].empty())
    return "devices";
  for (const json& d : doc["devices"]) {
    if (!d.is_object()) return "device object";
    if (d.contains("name") && (!d["name"].is_string() || d["name"].get<std::string>().size() > kNameSize))
      return "name";
    MacAddress mac{};
    if (!d.contains("mac") || !d["mac"].is_string() || !ParseMacText(d["mac"].get<std::string>(), mac))
      return "mac";
    if (!DottedField(d, "address", true)) return "address";
    for (const char* key : {"staticIp", "netmask", "gateway", "dns"})
      if (!DottedField(d, key, false)) return key;
    if (!IntIn(d, "timeoutMinutes", 0, 255)) return "timeoutMinutes";
    if (d.contains("ports")) {
      const json& ports = d["ports"];
      if (!ports.is_array() || ports.empty() || ports.size() > 2) return "ports";
      for (const json& p : ports) {
        if (!p.is_object()) return "port object";
        if (!IntIn(p, "dataPort", 0, 65535) || !IntIn(p, "destPort", 0, 65535) ||
            !IntIn(p, "txTimerMs", 0, 65535))
          return "port number";
        if (!IntIn(p, "baudCode", 0, 31) || !IntIn(p, "dataBitsCode", 0, 7) ||
            !IntIn(p, "parityCode", 0, 7) || !IntIn(p, "flowCode", 0, 7) || !IntIn(p, "stopBitsCode", 0, 3))
          return "line format";
        if (!DottedField(p, "destIp", false)) return "destIp";
        if (p.contains("state") && !p["state"].is_string() && !IntIn(p, "state", 0, 255)) return "state";
      }
    }
    if (d.contains("timings")) {
      const json& t = d["timings"];
      if (!t.is_object()) return "timings";
      if (!IntIn(t, "restartMs", 0, 600000) || !IntIn(t, "bootLoaderDelayMs", 0, 600000) ||
          !IntIn(t, "bootpRetryMs", 1, 600000) || !IntIn(t, "bootpTries", 1, 1000) ||
          !IntIn(t, "tftpTimeoutMs", 1, 600000) || !IntIn(t, "tftpTries", 1, 1000))
        return "timings value";
    }
  }
  return {};
}

// What an accepted configuration must hold, read from the parsed result.
void CheckAccepted(const SimulatorConfig& config, const std::string& caseText) {
  ASSERT_FALSE(config.devices.empty()) << caseText;
  for (const DeviceConfig& d : config.devices) {
    ASSERT_LE(d.record.name.size(), kNameSize) << caseText;
    ASSERT_TRUE(d.record.portCount == 1 || d.record.portCount == 2) << caseText;
    in_addr a{};
    ASSERT_EQ(inet_pton(AF_INET, d.address.c_str(), &a), 1) << caseText;
    ASSERT_GE(d.timings.bootpTries, 1) << caseText;
    ASSERT_GE(d.timings.tftpTries, 1) << caseText;
    ASSERT_GE(d.timings.restartMs, 0) << caseText;
    ASSERT_GE(d.faults.oversizeReply, 0) << caseText;
    ASSERT_GE(d.faults.duplicateReplies, 0) << caseText;
  }
}

TEST(ConfigFuzz, MutatedValuesAreRefusedWithAMessageOrObeyTheRules) {
  Fuzzer f(6001);
  const json example = json::parse(ExampleText());
  std::vector<json::json_pointer> paths;
  Paths(example, json::json_pointer(), paths);
  int refused = 0, accepted = 0;
  for (int i = 0; i < kCases; ++i) {
    json doc = example;
    const int changes = f.Int(1, 3);
    for (int k = 0; k < changes; ++k) {
      const json::json_pointer& at = paths[f.Index(paths.size())];
      if (!doc.contains(at)) continue;
      if (at.empty() || f.Chance(80)) {
        doc[at] = RandomValue(f);
      } else if (doc[at.parent_pointer()].is_object()) {
        doc[at.parent_pointer()].erase(at.back());
      }
    }
    // Text with broken UTF-8 sequences is written with replacement characters.
    const std::string text = doc.dump(-1, ' ', false, json::error_handler_t::replace);
    SimulatorConfig config;
    std::string error;
    const std::string caseText = "case " + std::to_string(i) + ": " + text;
    if (!ParseConfig(text, config, error)) {
      ++refused;
      ASSERT_FALSE(error.empty()) << caseText;
      continue;
    }
    ++accepted;
    ASSERT_EQ(BrokenRule(doc), "") << caseText;
    CheckAccepted(config, caseText);
  }
  EXPECT_GT(refused, kCases / 4);
  EXPECT_GT(accepted, kCases / 20);
}

// Numbers that are not whole numbers, kept as plain cases: a fraction used to
// be cut silently and a float out of range converted without definition.
TEST(ConfigFuzz, NumbersMustBeWholeNumbers) {
  for (const char* value : {"4001.5", "1e30", "-1e300", "true"}) {
    json doc = json::parse(ExampleText());
    doc["devices"][0]["ports"][0]["dataPort"] = json::parse(value);
    SimulatorConfig config;
    std::string error;
    EXPECT_FALSE(ParseConfig(doc.dump(), config, error)) << value;
    EXPECT_EQ(error, "device 1, port 1: \"dataPort\" must be a whole number") << value;
  }
}

// Byte-level damage to the file: broken JSON is refused with a message; JSON
// that still parses is held to the same rules.
TEST(ConfigFuzz, DamagedTextIsRefusedWithAMessageOrObeysTheRules) {
  Fuzzer f(6002);
  const std::string original = ExampleText();
  int refused = 0;
  for (int i = 0; i < kCases; ++i) {
    std::string text = original;
    const int changes = f.Int(1, 4);
    for (int k = 0; k < changes && !text.empty(); ++k) {
      const std::size_t at = f.Index(text.size());
      switch (f.Int(0, 3)) {
        case 0:
          text.erase(at, static_cast<std::size_t>(f.Int(1, 8)));
          break;
        case 1:
          text.insert(at, f.Text(4));
          break;
        case 2:
          text[at] = static_cast<char>(f.Byte());
          break;
        default:
          text.resize(at);
          break;
      }
    }
    SimulatorConfig config;
    std::string error;
    const std::string caseText = "case " + std::to_string(i) + ": " + text;
    if (!ParseConfig(text, config, error)) {
      ++refused;
      ASSERT_FALSE(error.empty()) << caseText;
      continue;
    }
    const json doc = json::parse(text);
    ASSERT_EQ(BrokenRule(doc), "") << caseText;
    CheckAccepted(config, caseText);
  }
  EXPECT_GT(refused, kCases / 2);
}

}  // namespace
}  // namespace devsim
