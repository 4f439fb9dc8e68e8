// The operation log of --log FILE: one JSON object a line for each datagram
// sent or received and for each decision and result, flushed as it is
// written so that a run that dies leaves what it did. Without --log nothing
// is written.
#pragma once

#include <cstdint>
#include <string>

#include "tk/socket.h"

namespace corvanectl::oplog {

// Appends to `path` from now on; false when it cannot be opened.
bool Open(const std::string& path);
void Close();

// What a datagram is, for its code: the device protocol's command or reply
// code, the BOOTP op, or the TFTP opcode (and block number).
enum class Protocol { Device, Bootp, Tftp };

// The socket's SendTo and ReceiveFrom, each datagram logged.
int SendTo(tk::BlockingUdpSocket& socket, const std::uint8_t* data, int size, unsigned port,
           const std::string& address, Protocol protocol = Protocol::Device);
int ReceiveFrom(tk::BlockingUdpSocket& socket, std::uint8_t* buffer, int size, std::string& sender,
                unsigned& senderPort, Protocol protocol = Protocol::Device);

// A decision about a device ("skipped", "refused") or its result ("ok",
// "failed"), with the line the user is told.
void Event(const std::string& event, const std::string& device, const std::string& text);

}  // namespace corvanectl::oplog
