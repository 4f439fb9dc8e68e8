// The user messages between the setup sheet and the main window. All are sent
// synchronously: the receiver reads what the pointers point at before the send
// returns, so the sender may pass addresses of its own members.
//
//   sheet -> main    kAskHostInfo  (0, 0)        main answers with kHostInfo
//   main  -> sheet   kHostInfo     (const std::string* hostAddress, const int* tableSlot)
//   sheet -> main    kAskRowKind   (0, 0)        main answers with kRowKind
//   main  -> sheet   kRowKind      (const int* rowKind, const int* rowCount)
//   sheet -> main    kAskRecord    (0, 0)        main answers with kRecord
//   main  -> sheet   kRecord       (const std::uint8_t* record, const int* rowNumber)
//   sheet -> main    kSheetClosed  (0, 0)        at every close of the sheet
//
// The record is a device table slot: at least kRecordSlotMinSize bytes.
#pragma once

#include <cstddef>

#include "tk/types.h"

namespace corvane::setup {

constexpr tk::UINT kRecord = 0x403;
constexpr tk::UINT kAskRecord = 0x401;
constexpr tk::UINT kAskRowKind = 0x405;
constexpr tk::UINT kRowKind = 0x407;
constexpr tk::UINT kHostInfo = 0x409;
constexpr tk::UINT kAskHostInfo = 0x409;
constexpr tk::UINT kSheetClosed = 0x40A;

// A record handed over with kRecord is read up to the end of a two-port record.
constexpr std::size_t kRecordSlotMinSize = 98;

}  // namespace corvane::setup
