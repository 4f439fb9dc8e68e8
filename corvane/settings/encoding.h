// Conversions between a device record, the setting item texts and the set
// request.
//
// EncodeItem writes one item into a set request the way the device expects
// it, byte arithmetic and all: the caller zeroes the request and encodes items
// 0 to 26 in order, so the items that start a byte anew come before the ones
// that add to it. Nothing is clamped here; the checks that keep wrong values
// away from a device are the caller's (see CheckAddresses and
// FillUnselectedSerialCodes).
#pragma once

#include <optional>
#include <string>

#include "corvane/protocol/packet.h"
#include "corvane/settings/setting_items.h"

namespace corvane::settings {

using protocol::ByteView;
using protocol::MutableByteView;

// The sheet keeps the first 96 bytes of the record it was opened with.
constexpr std::size_t kRecordCopySize = 96;

// Writes the dotted text into the four bytes at `offset`, group by group, the
// way the device's own tools do: a text with more than three dots writes every
// later group into the third byte; an empty text writes nothing.
void PutAddressText(MutableByteView request, std::size_t offset, const std::string& text);

// One item into the request of `rowKind` (73 bytes for row kind 11, 98 for 21
// and 22). `store` supplies the other port of a two-port device; `recordCopy`
// the MAC address. Another row kind writes nothing.
void EncodeItem(MutableByteView request, int rowKind, int item, const std::string& text,
                const OtherPortStore& store, ByteView recordCopy);

// Zeroes `request` and encodes all 27 items of `settings` in order.
void EncodeRequest(MutableByteView request, int rowKind, const DeviceSettings& settings, ByteView recordCopy);

// The size of the set request of a row kind: 73, 98, or 0 for none.
std::size_t RequestSize(int rowKind);

// Fills `settings` from a device record shown on list row `rowNumber` (0-based).
// A record whose reply code is not 1, 3, 9 or 12 is refused: nothing changes and
// the result is false. A row kind other than 11, 21 or 22 decodes nothing but
// counts as accepted. Codes outside their list leave the previous text.
bool DecodeRecord(ByteView record, int rowKind, int rowNumber, DeviceSettings& settings);

// A serial list without a selection reads as -1, and the request arithmetic
// would then borrow from the neighbouring fields of the same byte. This writes
// the device's own code from the record copy into every such serial item, and
// into every store code that lies outside its list, so that what the device had
// goes back to it unchanged.
void FillUnselectedSerialCodes(DeviceSettings& settings, int rowKind, ByteView recordCopy);

// The first address that the request would carry but that is not four numbers
// 0 to 255 separated by dots: the static listening IP when DHCP is off, the
// netmask, and the gateway, DNS server and destination IPs when not empty.
struct AddressProblem {
  int item;             // the setting item
  int port;             // 0 for a device-wide address, else the serial port it is for
  std::string message;  // for the user
};
std::optional<AddressProblem> FindBadAddress(const DeviceSettings& settings, int rowKind);
// The message of FindBadAddress, or nullopt when every address is sound.
std::optional<std::string> CheckAddresses(const DeviceSettings& settings, int rowKind);

}  // namespace corvane::settings
