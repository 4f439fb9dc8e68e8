// Device table lifecycle: reset per search, reply storage, MAC lookups.
#include "corvane/protocol/device_table.h"

#include <algorithm>
#include <cstring>

namespace corvane::protocol {

namespace {
const std::string kEmptyText;
}

DeviceTable::DeviceTable() {
  ResetForSearch();
}

void DeviceTable::ResetForSearch() {
  for (auto& slot : m_slots) slot.fill(kFill);
  m_lengths.fill(-1);
  m_portCounts.fill(kPortCountUnknown);
  m_nextSlot = 0;
  m_storedThisSearch = 0;
}

void DeviceTable::ClearMacTexts() {
  for (auto& text : m_macTexts) text.clear();
}

int DeviceTable::StoreReply(ByteView bytes, int length, ReplyMark mark, bool userSearch) {
  if (length < 0 || ReplyCode(bytes, length) != kReplySearch) return -1;
  // The slot takes what the receive area holds, which is never more than one
  // datagram; a caller passing a longer length still cannot overrun the slot.
  const std::size_t n = std::min({static_cast<std::size_t>(length), bytes.size(), kSlotSize});
  auto& slot = m_slots[m_nextSlot];
  slot.fill(kFill);
  std::memcpy(slot.data(), bytes.data(), n);
  m_lengths[m_nextSlot] = length;
  m_portCounts[m_nextSlot] = mark == ReplyMark::TwoPort ? 2 : 1;
  const int stored = m_nextSlot;
  ++m_storedThisSearch;
  m_nextSlot = (m_nextSlot + 1) % kSlotCount;
  if (userSearch) {
    // Once the next slot has wrapped, every slot holds a device of this search;
    // the lookups must go on searching all of them rather than none.
    m_lookupCount = std::min(m_storedThisSearch, kSlotCount);
    m_macTexts[stored] = MacTextOfRecord(ByteView(slot.data(), slot.size()));
  }
  return length;
}

int DeviceTable::StoreCommandReply(ByteView bytes, int length, int expectedCode) {
  if (length < 0 || ReplyCode(bytes, length) != expectedCode || !ValidSlot(m_selectedSlot)) return -1;
  const std::size_t n = std::min({static_cast<std::size_t>(length), bytes.size(), kSlotSize});
  auto& slot = m_slots[m_selectedSlot];
  std::memcpy(slot.data(), bytes.data(), n);
  m_lengths[m_selectedSlot] = length;
  return length;
}

int DeviceTable::FindSlotByMacText(const std::string& text) const {
  const int limit = std::clamp(m_lookupCount, 0, kSlotCount);
  for (int k = 0; k < limit; ++k) {
    if (MacTextOfRecord(Slot(k)) == text) return k;
  }
  return -1;
}

int DeviceTable::FindMacTextEntry(const std::string& text) const {
  const int limit = std::clamp(m_lookupCount, 0, kSlotCount);
  for (int k = 0; k < limit; ++k) {
    if (m_macTexts[k] == text) return k;
  }
  return -1;
}

ByteView DeviceTable::Slot(int slot) const {
  if (!ValidSlot(slot)) return {};
  return ByteView(m_slots[slot].data(), m_slots[slot].size());
}

int DeviceTable::SlotLength(int slot) const {
  return ValidSlot(slot) ? m_lengths[slot] : -1;
}

int DeviceTable::PortCount(int slot) const {
  return ValidSlot(slot) ? m_portCounts[slot] : kPortCountUnknown;
}

const std::string& DeviceTable::MacTextEntry(int slot) const {
  return ValidSlot(slot) ? m_macTexts[slot] : kEmptyText;
}

const std::uint8_t* DeviceTable::SlotAddress(int slot) const {
  return ValidSlot(slot) ? m_slots[slot].data() : nullptr;
}

}  // namespace corvane::protocol
