// Hostile input for the packet readers and the device table: random and mutated datagrams with every length a
// caller can pass. A fixed seed makes every run the same; the sanitizers of the native build catch any read
// or write outside a buffer, and the checks below the documented invariants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "corvane/protocol/device_table.h"
#include "corvane/protocol/packet.h"
#include "fuzz_input.h"

namespace corvane::protocol {
namespace {

using namespace fuzz;
constexpr std::uint8_t kGuard = 0x5A;

// ---- accepting a reply -----------------------------------------------------------

// The receive area of 256 bytes sits between guard bytes; AcceptReply gets a
// view of the area only, with every length from -5 to 300.
TEST(PacketFuzz, AcceptReplyMarksOnlyMagicAndStaysInTheArea) {
  Fuzzer f(1001);
  constexpr std::size_t kPad = 64;
  int counts[3] = {};
  for (int i = 0; i < kCases; ++i) {
    Raw area(kPad + kMaxDatagram + kPad, kGuard);
    const Raw datagram = f.Datagram();
    const std::size_t n = std::min(datagram.size(), kMaxDatagram);
    std::fill(area.begin() + kPad, area.begin() + kPad + kMaxDatagram, kFill);
    std::copy_n(datagram.begin(), n, area.begin() + kPad);
    const int length = f.Chance(70) ? static_cast<int>(n) : f.Int(-5, 300);
    const Raw before = area;
    std::uint8_t* view = area.data() + kPad;

    const ReplyMark mark = AcceptReply(MutableByteView(view, kMaxDatagram), length);
    ++counts[static_cast<int>(mark)];

    const bool magic = length >= 8 && MagicAt(before.data() + kPad);
    const bool second = length >= 81 && MagicAt(before.data() + kPad + off::kMagic2);
    ASSERT_EQ(mark, !magic   ? ReplyMark::Rejected
                    : second ? ReplyMark::TwoPort
                             : ReplyMark::OnePort)
        << "case " << i << ", length " << length;
    for (std::size_t k = 0; k < area.size(); ++k) {
      const bool filled =
          mark == ReplyMark::OnePort && k >= kPad + off::kMagic2 && k < kPad + kTwoPortRecordSize;
      ASSERT_EQ(area[k], filled ? kFill : before[k]) << "case " << i << ", byte " << k;
    }
  }
  // The generator reaches every outcome, so the checks above are exercised.
  EXPECT_GT(counts[0], kCases / 10);
  EXPECT_GT(counts[1], kCases / 10);
  EXPECT_GT(counts[2], kCases / 10);
}

// Callers with a shorter buffer than the receive area: ASan sees every byte
// past the exact-size allocation.
TEST(PacketFuzz, AcceptReplyOnShortBuffersNeverWritesPastThem) {
  Fuzzer f(1002);
  for (int i = 0; i < kCases; ++i) {
    Raw b = f.Datagram();
    const int length = f.Int(-5, 300);
    const ReplyMark mark = AcceptReply(b, length);
    if (mark == ReplyMark::OnePort) {
      for (std::size_t k = off::kMagic2; k < std::min(b.size(), kTwoPortRecordSize); ++k)
        ASSERT_EQ(b[k], kFill) << "case " << i;
    }
    if (mark != ReplyMark::Rejected) {
      ASSERT_TRUE(b.size() >= kMagicSize && MagicAt(b.data()));
    }
  }
}

// ---- field readers and the record ----------------------------------------------------

TEST(PacketFuzz, FieldReadersReturnZeroPastTheEnd) {
  Fuzzer f(1003);
  for (int i = 0; i < kCases; ++i) {
    const Raw b = f.RandomBytes(static_cast<std::size_t>(f.Int(0, 12)));
    const std::size_t at = static_cast<std::size_t>(f.Int(0, 16));
    const auto byte = [&](std::size_t k) -> unsigned { return k < b.size() ? b[k] : 0u; };
    ASSERT_EQ(Get8(b, at), at + 1 <= b.size() ? byte(at) : 0u);
    ASSERT_EQ(Get16(b, at), at + 2 <= b.size() ? (byte(at) << 8 | byte(at + 1)) : 0u);
    ASSERT_EQ(GetIPv4(b, at), at + 4 <= b.size()
                                  ? (byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3))
                                  : 0u);
    Raw w = b;
    Put16(w, at, 0xFFFF);
    PutIPv4(w, at, 0xFFFFFFFF);
    PutMagic(w, at);
    ASSERT_EQ(w.size(), b.size());
    const std::string text = IPv4Text(b, at);
    ASSERT_LE(text.size(), 15u);
    ASSERT_EQ(std::count(text.begin(), text.end(), '.'), 3);
  }
}

// Decoding a record and encoding it again gives back every byte the record
// carries; the port count is 2 only with the whole second section.
TEST(PacketFuzz, DecodeRecordRoundTripsEveryCarriedField) {
  Fuzzer f(1004);
  int decoded = 0;
  for (int i = 0; i < kCases; ++i) {
    const Raw b = f.Datagram();
    DeviceRecord r;
    const bool ok = DecodeRecord(b, r);
    const bool expected = b.size() >= kMagicSize && MagicAt(b.data());
    ASSERT_EQ(ok, expected) << "case " << i << ", size " << b.size();
    if (!ok) continue;
    ++decoded;
    const bool two = b.size() >= off::kMagic2 + kMagicSize && MagicAt(b.data() + off::kMagic2);
    ASSERT_EQ(r.portCount, two ? 2 : 1);
    ASSERT_LE(r.name.size(), kNameSize);
    ASSERT_EQ(r.name.find('\0'), std::string::npos);
    ASSERT_EQ(r.name.find('\xCC'), std::string::npos);
    // The round trip below needs whole sections and a name without fill bytes.
    if (b.size() < (two ? kTwoPortRecordSize : kOnePortRecordSize)) continue;
    const std::string rawName(b.begin() + off::kName, b.begin() + off::kName + kNameSize);
    if (rawName.find('\xCC') != std::string::npos) continue;
    ASSERT_EQ(std::memcmp(r.name.data(), b.data() + off::kName, r.name.size()), 0);

    const Raw again = EncodeRecord(r);
    ASSERT_EQ(again.size(), two ? kTwoPortRecordSize : kOnePortRecordSize);
    // Every byte but the reserved ones, the mode bits without a meaning, the
    // transfer bits above bit 0 and the name bytes after its terminator.
    for (std::size_t k = 0; k < again.size(); ++k) {
      if (k == off::kReserved1 || k == off::kReserved2) continue;
      if (k >= off::kName + r.name.size() && k < off::kName + kNameSize) continue;
      std::uint8_t mask = 0xFF;
      if (k == off::kMode1) mask = 0xCF;
      if (k == off::kMode2) mask = 0x8F;
      if (k == off::kTransfer1 || k == off::kTransfer2) mask = 0x01;
      ASSERT_EQ(again[k] & mask, b[k] & mask) << "case " << i << ", offset " << k;
    }
  }
  EXPECT_GT(decoded, kCases / 4);
}

TEST(PacketFuzz, StatusQueryStateReadsOnlyTheStateByteOfACountingReply) {
  Fuzzer f(1005);
  const int kinds[] = {11, 21, 22, 0, 12, -1, 0xCC};
  for (int i = 0; i < kCases; ++i) {
    const Raw b = f.Datagram();
    const int length = f.Chance(60) ? static_cast<int>(b.size()) : f.Int(-5, 300);
    const int kind = kinds[f.Int(0, 6)];
    const int state = StatusQueryState(b, length, kind);
    const std::size_t at = kind == 22 ? off::kState2 : off::kState1;
    const bool counts = length > static_cast<int>(off::kCode) && b.size() > off::kCode &&
                        (b[off::kCode] & 0x0F) == kReplySearch && IsValidRowKind(kind) && at < b.size() &&
                        length > static_cast<int>(at);
    ASSERT_EQ(state, counts ? b[at] : -1) << "case " << i;
  }
}

TEST(PacketFuzz, MacTextParsingAcceptsOnlyWellFormedText) {
  Fuzzer f(1006);
  const std::string alphabet = "0123456789abcdefABCDEFgG-:. \x7f";
  int accepted = 0;
  for (int i = 0; i < kCases; ++i) {
    std::string text;
    if (f.Chance(50)) {
      MacAddress mac{};
      for (auto& x : mac) x = f.Byte();
      text = MacText(mac);
      ASSERT_TRUE(WellFormedMacText(text)) << text;
      const std::size_t flips = static_cast<std::size_t>(f.Int(0, 2));
      for (std::size_t k = 0; k < flips; ++k)
        text[static_cast<std::size_t>(f.Int(0, 16))] = alphabet[static_cast<std::size_t>(f.Int(0, 28))];
      if (f.Chance(10)) text.resize(static_cast<std::size_t>(f.Int(0, 17)));
    } else {
      text.resize(static_cast<std::size_t>(f.Int(0, 20)));
      for (auto& c : text) c = alphabet[static_cast<std::size_t>(f.Int(0, 28))];
    }
    MacAddress parsed{};
    if (!ParseMacText(text, parsed)) continue;
    ++accepted;
    // Accepted text is the MAC text up to the case of its digits and ':' for '-'.
    std::string normal = text;
    for (auto& c : normal) {
      if (c == ':') c = '-';
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    ASSERT_EQ(MacText(parsed), normal) << "case " << i << ": \"" << text << "\"";
  }
  EXPECT_GT(accepted, kCases / 10);
}

// ---- device table ----------------------------------------------------------------

// Random replies and command replies, with lengths as the transports give them
// (-5..256), against a table that resets now and then.
TEST(DeviceTableFuzz, RandomRepliesKeepEveryInvariant) {
  Fuzzer f(2001);
  auto table = std::make_unique<DeviceTable>();
  DeviceTable& t = *table;
  std::vector<std::string> knownMacs;
  int stored = 0;
  for (int i = 0; i < kCases; ++i) {
    Raw b = f.Datagram();
    if (b.size() > kMaxDatagram) b.resize(kMaxDatagram);
    const int length = f.Chance(70) ? static_cast<int>(b.size()) : f.Int(-5, static_cast<int>(b.size()));
    const int op = f.Int(0, 19);
    if (op == 0) {
      t.ResetForSearch();
    } else if (op == 1) {
      t.ClearMacTexts();
    } else if (op <= 4) {
      t.SetSelectedSlot(f.Chance(80) ? f.Int(0, 255) : f.Int(-3, 300));
      const int code = f.Chance(50) ? kReplySet : kReplyRestore;
      const int result = t.StoreCommandReply(b, length, code);
      const bool expected = length >= 0 && ReplyCode(b, length) == code && t.SelectedSlot() >= 0 &&
                            t.SelectedSlot() < DeviceTable::kSlotCount;
      ASSERT_EQ(result, expected ? length : -1) << "case " << i;
      if (expected) {
        ASSERT_EQ(t.SlotLength(t.SelectedSlot()), length);
      }
    } else if (op <= 6) {
      const std::string text =
          !knownMacs.empty() && f.Chance(70)
              ? knownMacs[static_cast<std::size_t>(f.Int(0, static_cast<int>(knownMacs.size()) - 1))]
              : MacText({f.Byte(), f.Byte(), f.Byte(), f.Byte(), f.Byte(), f.Byte()});
      const int slot = t.FindSlotByMacText(text);
      ASSERT_GE(slot, -1);
      ASSERT_LT(slot, t.LookupCount());
      if (slot >= 0) {
        ASSERT_EQ(MacTextOfRecord(t.Slot(slot)), text);
      }
      const int entry = t.FindMacTextEntry(text);
      if (entry >= 0) {
        ASSERT_EQ(t.MacTextEntry(entry), text);
      }
      ASSERT_LT(entry, t.LookupCount());
    } else {
      const int k = t.NextSlot();
      const ReplyMark mark = f.Chance(50) ? ReplyMark::TwoPort : ReplyMark::OnePort;
      const bool user = f.Chance(70);
      const int result = t.StoreReply(b, length, mark, user);
      const bool expected = length >= 0 && ReplyCode(b, length) == kReplySearch;
      ASSERT_EQ(result, expected ? length : -1) << "case " << i;
      if (expected) {
        ++stored;
        ASSERT_EQ(t.NextSlot(), (k + 1) % DeviceTable::kSlotCount);
        ASSERT_EQ(t.SlotLength(k), length);
        ASSERT_EQ(t.PortCount(k), mark == ReplyMark::TwoPort ? 2 : 1);
        const ByteView slot = t.Slot(k);
        // The reply's bytes, then 0xCC to the end of the slot.
        ASSERT_TRUE(std::equal(b.begin(), b.begin() + length, slot.begin()));
        ASSERT_TRUE(std::all_of(slot.begin() + length, slot.end(), [](auto x) { return x == kFill; }));
        if (user) {
          ASSERT_EQ(t.MacTextEntry(k), MacTextOfRecord(slot));
          knownMacs.push_back(t.MacTextEntry(k));
        }
      } else {
        ASSERT_EQ(t.NextSlot(), k);
      }
    }
    CheckTable(t, i);
  }
  EXPECT_GT(stored, kCases / 5);  // enough to wrap the next slot several times
}

// A caller passing a longer view or length than one datagram: the copy stops
// at the slot's 2000 bytes, and the neighbouring slot stays untouched.
TEST(DeviceTableFuzz, OversizedInputNeverReachesPastASlot) {
  Fuzzer f(2002);
  auto table = std::make_unique<DeviceTable>();
  DeviceTable& t = *table;
  for (int i = 0; i < 300; ++i) {
    Raw b = f.RandomBytes(static_cast<std::size_t>(f.Int(9, 2600)));
    b[off::kCode] = kReplySearch;
    const int length = f.Int(9, 3000);
    const int k = t.NextSlot();
    const int next = (k + 1) % DeviceTable::kSlotCount;
    const Raw neighbour(t.Slot(next).begin(), t.Slot(next).end());
    if (f.Chance(50)) {
      ASSERT_EQ(t.StoreReply(b, length, ReplyMark::OnePort, true), length);
    } else {
      t.SetSelectedSlot(k);
      ASSERT_EQ(t.StoreCommandReply(b, length, kReplySearch), length);
    }
    const std::size_t n = std::min({static_cast<std::size_t>(length), b.size(), DeviceTable::kSlotSize});
    ASSERT_TRUE(std::equal(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n), t.Slot(k).begin()));
    ASSERT_TRUE(std::equal(neighbour.begin(), neighbour.end(), t.Slot(next).begin())) << "case " << i;
  }
}

}  // namespace
}  // namespace corvane::protocol
