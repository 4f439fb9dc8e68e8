// The bridge's records as their readers take them: a request header and what
// it announces (the service reads what the driver hands over), an answer
// (the driver reads what the service sends back). Whatever the bytes: the
// reader accepts exactly the records the layout allows, what it accepts lies
// inside the buffer, and writing the fields back gives the same bytes.
#include <cstdint>
#include <cstring>
#include <memory>

#include "bridge_records.h"
#include "fuzz_check.h"
#include "le_fields.h"

namespace {

// The request rules, written out again from the layout: a header, the bytes a
// write or a notice announces, and a write's piece inside its write.
bool RequestAllowed(const uint8_t* data, size_t size) {
  if (size < VPORT_BRIDGE_HEADER_SIZE) return false;
  const uint64_t kind = VportReadLe32(data + VPORT_BRIDGE_KIND_OFS);
  const uint64_t length = VportReadLe32(data + VPORT_BRIDGE_LENGTH_OFS);
  const uint64_t total = VportReadLe32(data + VPORT_BRIDGE_TOTAL_OFS);
  const uint64_t offset = VportReadLe32(data + VPORT_BRIDGE_OFFSET_OFS);
  const bool lengthIsBytes = kind != VPORT_BRIDGE_READ && kind != VPORT_BRIDGE_WAIT;
  if (lengthIsBytes && length > size - VPORT_BRIDGE_HEADER_SIZE) return false;
  if (kind == VPORT_BRIDGE_WRITE && offset + length > total) return false;
  return true;
}

void CheckRequest(const uint8_t* data, size_t size) {
  VportBridgeRequest request;
  const bool read = VportReadBridgeRequest(data, size, &request) != 0;
  FUZZ_CHECK(read == RequestAllowed(data, size));
  if (!read) return;
  if (request.kind != VPORT_BRIDGE_READ && request.kind != VPORT_BRIDGE_WAIT) {
    FUZZ_CHECK(request.length <= size - VPORT_BRIDGE_HEADER_SIZE);
    // Every announced byte is there to be read.
    unsigned sum = 0;
    for (size_t i = 0; i < request.length; ++i) sum += data[VPORT_BRIDGE_HEADER_SIZE + i];
    (void)sum;
  }
  if (request.kind == VPORT_BRIDGE_WRITE) {
    FUZZ_CHECK(request.offset <= request.total);
    FUZZ_CHECK(request.length <= request.total - request.offset);
  }
  // Writing the fields back gives the header read (every header byte is a field).
  uint8_t header[VPORT_BRIDGE_HEADER_SIZE];
  FUZZ_CHECK(VportWriteBridgeRequest(&request, header, sizeof header) == VPORT_BRIDGE_HEADER_SIZE);
  FUZZ_CHECK(std::memcmp(header, data, VPORT_BRIDGE_HEADER_SIZE) == 0);
  VportBridgeRequest again;
  std::memset(&again, 0xA5, sizeof again);
  auto copy = std::make_unique<uint8_t[]>(size);
  std::memcpy(copy.get(), header, sizeof header);
  std::memcpy(copy.get() + sizeof header, data + sizeof header, size - sizeof header);
  FUZZ_CHECK(VportReadBridgeRequest(copy.get(), size, &again) == 1);
  FUZZ_CHECK(std::memcmp(&again, &request, sizeof request) == 0);
}

void CheckAnswer(const uint8_t* data, size_t size) {
  VportBridgeAnswer answer;
  const bool read = VportReadBridgeAnswer(data, size, &answer) != 0;
  FUZZ_CHECK(read == (size >= VPORT_ANSWER_HEADER_SIZE));
  if (!read) return;
  FUZZ_CHECK(answer.data == data + VPORT_ANSWER_HEADER_SIZE);
  FUZZ_CHECK(answer.dataLength == size - VPORT_ANSWER_HEADER_SIZE);
  FUZZ_CHECK(answer.id == VportReadLe32(data + VPORT_ANSWER_ID_OFS));
  FUZZ_CHECK(answer.status == VportReadLe32(data + VPORT_ANSWER_STATUS_OFS));
  FUZZ_CHECK(answer.length == VportReadLe32(data + VPORT_ANSWER_LENGTH_OFS));
  unsigned sum = 0;
  for (size_t i = 0; i < answer.dataLength; ++i) sum += answer.data[i];
  (void)sum;
}

// The writers with a capacity taken from the input, in a buffer of exactly
// that size: they write nothing when it is short, and read back what they wrote.
void CheckWriters(const uint8_t* data, size_t size) {
  if (size == 0) return;
  const size_t capacity = data[0] % (VPORT_BRIDGE_HEADER_SIZE + 8);
  auto out = std::make_unique<uint8_t[]>(capacity);
  VportBridgeRequest request{};
  for (size_t i = 0; i + 1 < size && i < sizeof request; ++i)
    reinterpret_cast<uint8_t*>(&request)[i] = data[i + 1];
  const size_t written = VportWriteBridgeRequest(&request, out.get(), capacity);
  FUZZ_CHECK(written == (capacity >= VPORT_BRIDGE_HEADER_SIZE ? VPORT_BRIDGE_HEADER_SIZE : 0u));
  if (written != 0) {
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_ID_OFS) == request.id);
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_KIND_OFS) == request.kind);
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_COM_OFS) == request.comNumber);
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_LENGTH_OFS) == request.length);
    for (size_t i = 0; i < 5; ++i)
      FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_TIMEOUTS_OFS + 4 * i) == request.timeouts[i]);
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_FLAGS_OFS) == request.flags);
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_TOTAL_OFS) == request.total);
    FUZZ_CHECK(VportReadLe32(out.get() + VPORT_BRIDGE_OFFSET_OFS) == request.offset);
  }
  const size_t answered =
      VportWriteBridgeAnswer(request.id, request.kind, request.length, out.get(), capacity);
  FUZZ_CHECK(answered == (capacity >= VPORT_ANSWER_HEADER_SIZE ? VPORT_ANSWER_HEADER_SIZE : 0u));
  if (answered != 0) {
    VportBridgeAnswer answer;
    FUZZ_CHECK(VportReadBridgeAnswer(out.get(), answered, &answer) == 1);
    FUZZ_CHECK(answer.id == request.id && answer.status == request.kind && answer.length == request.length);
    FUZZ_CHECK(answer.dataLength == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckRequest(data, size);
  CheckAnswer(data, size);
  CheckWriters(data, size);
  return 0;
}
