// The device table: the last accepted reply of each device found by a search,
// byte for byte, one 2000-byte slot per device, filled in reply order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "corvane/protocol/packet.h"

namespace corvane::protocol {

class DeviceTable {
 public:
  static constexpr int kSlotCount = 256;
  static constexpr std::size_t kSlotSize = 2000;
  static constexpr std::size_t kMacTextSize = 256;
  static constexpr std::uint8_t kPortCountUnknown = kFill;

  // Every slot byte 0xCC, every length -1, every MAC text empty.
  DeviceTable();

  // Before every search: next slot 0, lengths -1, slots and port counts 0xCC.
  // The MAC texts stay (see ClearMacTexts).
  void ResetForSearch();
  // Done only by the searches the user starts (Search and IP Search), so that
  // the searches the manager starts itself keep finding the devices' positions.
  void ClearMacTexts();

  // Stores a search reply taken from a receive slot into the next slot. Not
  // stored (-1) when the length is negative or the reply code is not 1; the
  // length is returned otherwise. `mark` is the transport's one- or two-port
  // mark. With `userSearch`, the lookup count follows the next slot and the
  // slot's MAC text is written.
  int StoreReply(ByteView bytes, int length, ReplyMark mark, bool userSearch);
  // Stores a set (3) or restore (9) reply over the selected slot; -1 when the
  // length is negative or the code differs, else the length.
  int StoreCommandReply(ByteView bytes, int length, int expectedCode);

  // The first slot below the lookup count whose record's MAC text equals
  // `text`; -1 when none does.
  int FindSlotByMacText(const std::string& text) const;
  // The first MAC-text entry below the lookup count equal to `text`; -1 when none.
  int FindMacTextEntry(const std::string& text) const;

  // The slot's bytes (the whole 2000) and its reply length.
  ByteView Slot(int slot) const;
  int SlotLength(int slot) const;
  // 1, 2, or 0xCC when unknown.
  int PortCount(int slot) const;
  const std::string& MacTextEntry(int slot) const;

  int NextSlot() const { return m_nextSlot; }
  int LookupCount() const { return m_lookupCount; }
  int SelectedSlot() const { return m_selectedSlot; }
  void SetSelectedSlot(int slot) { m_selectedSlot = slot; }
  // Addresses the setup sheet reads synchronously (user messages 0x409, 0x401).
  int* SelectedSlotAddress() { return &m_selectedSlot; }
  const std::uint8_t* SlotAddress(int slot) const;

 private:
  static bool ValidSlot(int slot) { return slot >= 0 && slot < kSlotCount; }

  std::array<std::array<std::uint8_t, kSlotSize>, kSlotCount> m_slots;
  std::array<int, kSlotCount> m_lengths;
  int m_nextSlot = 0;
  int m_lookupCount = 0;
  int m_storedThisSearch = 0;
  std::array<std::uint8_t, kSlotCount> m_portCounts;
  std::array<std::string, kSlotCount> m_macTexts;
  int m_selectedSlot = 0;
};

}  // namespace corvane::protocol
