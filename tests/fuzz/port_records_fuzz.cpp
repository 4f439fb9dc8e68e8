// The port's control records: the manager's set request as the driver parses
// it, and the replies the driver writes into the manager's buffer, whose size
// the manager chooses. Input: a reply capacity (1 byte), a COM number (4
// bytes), then the set request's bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "le_fields.h"
#include "port_records.h"

namespace {

void CheckParse(const uint8_t* in, size_t length) {
  VportRemoteSettings settings;
  std::memset(&settings, 0xA5, sizeof settings);
  VportRemoteSettings untouched = settings;
  const VportParseResult result = VportParseRemoteRequest(in, length, &settings);
  if (length < VPORT_REQ_SIZE) {
    FUZZ_CHECK(result == VPORT_PARSE_TOO_SHORT);
  } else if (in[VPORT_REQ_TYPE_OFS] > VPORT_TYPE_UDP_CLIENT) {
    FUZZ_CHECK(result == VPORT_PARSE_BAD_TYPE);
  } else {
    FUZZ_CHECK(result == VPORT_PARSE_OK);
  }
  if (result != VPORT_PARSE_OK) {
    FUZZ_CHECK(std::memcmp(&settings, &untouched, sizeof settings) == 0);
    return;
  }
  // Written back, the request is the one read, its unused bytes zero.
  uint8_t out[VPORT_REQ_SIZE];
  FUZZ_CHECK(VportWriteRemoteRequest(&settings, out, sizeof out) == VPORT_REQ_SIZE);
  for (size_t i = 0; i < VPORT_REQ_SIZE; ++i) {
    const bool unused = i == 6 || i == 7 || (i > VPORT_REQ_TYPE_OFS && i < VPORT_REQ_CONNECT_AT_START_OFS);
    FUZZ_CHECK(out[i] == (unused ? 0 : in[i]));
  }
}

void CheckRemoteReply(const uint8_t* in, size_t length, size_t capacity) {
  VportRemoteSettings settings;
  if (VportParseRemoteRequest(in, length, &settings) != VPORT_PARSE_OK) return;
  auto out = std::make_unique<uint8_t[]>(capacity);
  const uint32_t connected = VportReadLe32(in + VPORT_REQ_MAX_PACKET_OFS) ^ settings.connectAtStart;
  const size_t written = VportWriteRemoteReply(&settings, connected, out.get(), capacity);
  FUZZ_CHECK(written == (capacity >= VPORT_REPLY_SIZE ? VPORT_REPLY_SIZE : 0u));
  if (written == 0) return;
  FUZZ_CHECK(std::memcmp(out.get() + VPORT_REPLY_ADDRESS_OFS, settings.address, 4) == 0);
  FUZZ_CHECK(std::memcmp(out.get() + VPORT_REPLY_PORT_OFS, settings.port, 2) == 0);
  FUZZ_CHECK(out[VPORT_REPLY_TYPE_OFS] == settings.type);
  FUZZ_CHECK(VportReadLe32(out.get() + VPORT_REPLY_CONNECT_AT_START_OFS) == settings.connectAtStart);
  FUZZ_CHECK(VportReadLe32(out.get() + VPORT_REPLY_CONNECTED_OFS) == connected);
  FUZZ_CHECK(VportReadLe32(out.get() + VPORT_REPLY_MAX_PACKET_OFS) == settings.maxPacketSize);
}

void CheckDosName(uint32_t comNumber, size_t capacity) {
  auto out = std::make_unique<uint8_t[]>(capacity);
  const size_t written = VportWriteDosNameReply(comNumber, out.get(), capacity);
  char name[32];
  const int nameLength = std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(comNumber));
  const bool fits =
      capacity >= VPORT_DOS_NAME_REPLY_SIZE && comNumber != 0 && nameLength < VPORT_DOS_NAME_MAX;
  FUZZ_CHECK(written == (fits ? VPORT_DOS_NAME_REPLY_SIZE : 0u));
  if (written == 0) return;
  FUZZ_CHECK(std::memcmp(out.get(), name, static_cast<size_t>(nameLength)) == 0);
  for (size_t i = static_cast<size_t>(nameLength); i < VPORT_DOS_NAME_REPLY_SIZE; ++i)
    FUZZ_CHECK(out[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const size_t capacity = input.Byte() % 40;
  const uint32_t comNumber = input.Le32();
  size_t length;
  const uint8_t* request = input.Bytes(input.Left(), &length);
  // The request in a block of its own size, so a read past it is seen.
  auto copy = std::make_unique<uint8_t[]>(length);
  if (length != 0) std::memcpy(copy.get(), request, length);
  CheckParse(copy.get(), length);
  CheckRemoteReply(copy.get(), length, capacity);
  CheckDosName(comNumber, capacity);
  return 0;
}
