// Random and mutated management datagrams for the hostile-input tests, with
// the invariant checks they share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "corvane/protocol/device_table.h"
#include "corvane/protocol/packet.h"

namespace corvane::protocol::fuzz {

using Raw = std::vector<std::uint8_t>;

constexpr int kCases = 4000;
constexpr char kMagicText[] = "MORKELAN";

class Fuzzer {
 public:
  explicit Fuzzer(unsigned seed) : m_rng(seed) {}

  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_rng); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Int(0, 255)); }
  bool Chance(int percent) { return Int(0, 99) < percent; }

  Raw RandomBytes(std::size_t n) {
    Raw b(n);
    for (auto& x : b) x = Byte();
    return b;
  }

  // A reply as a device sends it, with random field values and the magic at 0
  // (and at 73 for two ports), then a few mutations: flipped bytes, a damaged
  // magic, truncation or extension.
  Raw MutatedReply() {
    Raw b = RandomBytes(Chance(50) ? kTwoPortRecordSize : kOnePortRecordSize);
    std::memcpy(b.data(), kMagicText, kMagicSize);
    b[off::kCode] = static_cast<std::uint8_t>(Chance(70) ? kReplySearch : Byte());
    if (b.size() == kTwoPortRecordSize) std::memcpy(b.data() + off::kMagic2, kMagicText, kMagicSize);
    const int mutations = Int(0, 3);
    for (int i = 0; i < mutations; ++i) Mutate(b);
    return b;
  }

  void Mutate(Raw& b) {
    switch (Int(0, 4)) {
      case 0:
        if (!b.empty()) b[static_cast<std::size_t>(Int(0, static_cast<int>(b.size()) - 1))] ^= Byte();
        break;
      case 1:  // a damaged magic, first or second
        if (b.size() > off::kMagic2 + 7 && Chance(50))
          b[off::kMagic2 + static_cast<std::size_t>(Int(0, 7))] ^= 0x01;
        else if (b.size() > 7)
          b[static_cast<std::size_t>(Int(0, 7))] ^= 0x20;
        break;
      case 2:
        b.resize(static_cast<std::size_t>(Int(0, static_cast<int>(b.size()))));
        break;
      case 3: {
        const Raw tail = RandomBytes(static_cast<std::size_t>(Int(1, 200)));
        b.insert(b.end(), tail.begin(), tail.end());
        break;
      }
      default:
        break;  // left as it is
    }
  }

  // Random bytes half the time, a mutated reply otherwise.
  Raw Datagram() { return Chance(50) ? MutatedReply() : RandomBytes(static_cast<std::size_t>(Int(0, 300))); }

 private:
  std::mt19937 m_rng;
};

inline bool MagicAt(const std::uint8_t* p) {
  return std::memcmp(p, kMagicText, kMagicSize) == 0;
}

inline bool WellFormedMacText(const std::string& text) {
  if (text.size() != 17) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = i % 3 == 2 ? c == '-' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (!ok) return false;
  }
  return true;
}

// Every slot of the table within its documented ranges.
inline void CheckTable(const DeviceTable& t, int caseNo) {
  ASSERT_GE(t.NextSlot(), 0);
  ASSERT_LT(t.NextSlot(), DeviceTable::kSlotCount);
  ASSERT_GE(t.LookupCount(), 0);
  ASSERT_LE(t.LookupCount(), DeviceTable::kSlotCount);
  for (int k = 0; k < DeviceTable::kSlotCount; ++k) {
    ASSERT_GE(t.SlotLength(k), -1) << "case " << caseNo << ", slot " << k;
    ASSERT_LE(t.SlotLength(k), static_cast<int>(kMaxDatagram)) << "case " << caseNo << ", slot " << k;
    const int ports = t.PortCount(k);
    ASSERT_TRUE(ports == 1 || ports == 2 || ports == DeviceTable::kPortCountUnknown) << "slot " << k;
    const std::string& text = t.MacTextEntry(k);
    ASSERT_TRUE(text.empty() || WellFormedMacText(text)) << "slot " << k << ": " << text;
    ASSERT_EQ(t.Slot(k).size(), DeviceTable::kSlotSize);
  }
}

}  // namespace corvane::protocol::fuzz
