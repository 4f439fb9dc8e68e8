// The serial requests a program sends to the port, as the driver serves them
// from the program's input buffer into its output buffer: a sequence of
// requests on one port's state, each with a fuzzed code, input and output
// length, the buffers exactly that size (so a read or write past them is
// seen), sometimes one buffer for both as the platform passes them. Whatever
// the bytes: the reply stays inside the output buffer, a refused request
// changes nothing, and what a request sets reads back the same.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

#include "fuzz_check.h"
#include "serial_requests.h"

namespace {

const uint32_t kCodes[] = {
    VPORT_SERIAL_SET_BAUD_RATE,  VPORT_SERIAL_SET_QUEUE_SIZE,  VPORT_SERIAL_SET_LINE_CONTROL,
    VPORT_SERIAL_SET_BREAK_ON,   VPORT_SERIAL_SET_BREAK_OFF,   VPORT_SERIAL_IMMEDIATE_CHAR,
    VPORT_SERIAL_SET_TIMEOUTS,   VPORT_SERIAL_GET_TIMEOUTS,    VPORT_SERIAL_SET_DTR,
    VPORT_SERIAL_CLR_DTR,        VPORT_SERIAL_RESET_DEVICE,    VPORT_SERIAL_SET_RTS,
    VPORT_SERIAL_CLR_RTS,        VPORT_SERIAL_SET_XOFF,        VPORT_SERIAL_SET_XON,
    VPORT_SERIAL_GET_WAIT_MASK,  VPORT_SERIAL_SET_WAIT_MASK,   VPORT_SERIAL_WAIT_ON_MASK,
    VPORT_SERIAL_PURGE,          VPORT_SERIAL_GET_BAUD_RATE,   VPORT_SERIAL_GET_LINE_CONTROL,
    VPORT_SERIAL_GET_CHARS,      VPORT_SERIAL_SET_CHARS,       VPORT_SERIAL_GET_HANDFLOW,
    VPORT_SERIAL_SET_HANDFLOW,   VPORT_SERIAL_GET_MODEMSTATUS, VPORT_SERIAL_GET_COMMSTATUS,
    VPORT_SERIAL_GET_PROPERTIES, VPORT_SERIAL_GET_DTRRTS,      VPORT_SERIAL_CONFIG_SIZE,
    VPORT_SERIAL_GET_STATS,      VPORT_SERIAL_CLEAR_STATS,
};

// A set request and the answer that reads back what it set, with the bytes compared.
struct Echo {
  uint32_t set;
  uint32_t get;
  size_t size;
};
const Echo kEchoes[] = {
    {VPORT_SERIAL_SET_BAUD_RATE, VPORT_SERIAL_GET_BAUD_RATE, 4},
    {VPORT_SERIAL_SET_WAIT_MASK, VPORT_SERIAL_GET_WAIT_MASK, 4},
    {VPORT_SERIAL_SET_LINE_CONTROL, VPORT_SERIAL_GET_LINE_CONTROL, VPORT_SERIAL_LINE_SIZE},
    {VPORT_SERIAL_SET_TIMEOUTS, VPORT_SERIAL_GET_TIMEOUTS, VPORT_SERIAL_TIMEOUTS_SIZE},
    {VPORT_SERIAL_SET_CHARS, VPORT_SERIAL_GET_CHARS, VPORT_SERIAL_CHARS_SIZE},
    {VPORT_SERIAL_SET_HANDFLOW, VPORT_SERIAL_GET_HANDFLOW, VPORT_SERIAL_HANDFLOW_SIZE},
};

bool IsAnswerOnly(uint32_t code) {
  return code == VPORT_SERIAL_GET_TIMEOUTS || code == VPORT_SERIAL_GET_WAIT_MASK ||
         code == VPORT_SERIAL_GET_BAUD_RATE || code == VPORT_SERIAL_GET_LINE_CONTROL ||
         code == VPORT_SERIAL_GET_CHARS || code == VPORT_SERIAL_GET_HANDFLOW ||
         code == VPORT_SERIAL_GET_MODEMSTATUS || code == VPORT_SERIAL_GET_COMMSTATUS ||
         code == VPORT_SERIAL_GET_PROPERTIES || code == VPORT_SERIAL_GET_DTRRTS ||
         code == VPORT_SERIAL_CONFIG_SIZE || code == VPORT_SERIAL_GET_STATS || !VportIsSerialRequest(code) ||
         std::find(std::begin(kCodes), std::end(kCodes), code) == std::end(kCodes);
}

void ReadBack(VportSerialState* state, const Echo& echo, const uint8_t* set) {
  uint8_t out[VPORT_SERIAL_TIMEOUTS_SIZE];
  VportSerialReply reply;
  FUZZ_CHECK(VportSerialRequest(state, echo.get, nullptr, 0, out, echo.size, &reply) == VPORT_SERIAL_DONE);
  FUZZ_CHECK(reply.written == echo.size);
  FUZZ_CHECK(std::memcmp(out, set, echo.size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  VportSerialState state;
  VportSerialDefaults(&state);
  // What the driver sets from the service's reports.
  state.lineUp = input.Byte() & 1;
  state.inQueued = input.Le32();
  state.outQueued = input.Le32();
  // Bounded, so that a long input is many requests, not one slow one.
  for (int request = 0; request < 64 && input.Left() != 0; ++request) {
    const uint8_t pick = input.Byte();
    const uint32_t code = pick < 0xF0 ? kCodes[pick % std::size(kCodes)] : input.Le32();
    const size_t inLength = input.Byte() % 72;
    const size_t outCapacity = input.Byte() % 72;
    const bool shared = (pick & 0x80) != 0 && pick < 0xF0;
    size_t got;
    const uint8_t* bytes = input.Bytes(inLength, &got);

    // Exactly the sizes the program gave; one block of the larger size when
    // the input and output buffers are one, as for buffered requests.
    std::unique_ptr<uint8_t[]> in, out;
    uint8_t* inAt;
    uint8_t* outAt;
    if (shared) {
      out = std::make_unique<uint8_t[]>(std::max(inLength, outCapacity));
      inAt = outAt = out.get();
    } else {
      in = std::make_unique<uint8_t[]>(inLength);
      out = std::make_unique<uint8_t[]>(outCapacity);
      inAt = in.get();
      outAt = out.get();
    }
    std::memset(inAt, 0, inLength);
    std::memcpy(inAt, bytes, got);
    uint8_t inCopy[72];
    std::memcpy(inCopy, inAt, inLength);

    const VportSerialState before = state;
    VportSerialReply reply;
    reply.written = 0x5A5A;
    reply.purge = 0x5A5A;
    const VportSerialResult result =
        VportSerialRequest(&state, code, inAt, inLength, outAt, outCapacity, &reply);
    FUZZ_CHECK(reply.written <= outCapacity);
    FUZZ_CHECK(reply.purge == 0 || (code == VPORT_SERIAL_PURGE && (reply.purge & ~0x0Fu) == 0));
    if (result != VPORT_SERIAL_DONE || IsAnswerOnly(code)) {
      FUZZ_CHECK(std::memcmp(&state, &before, sizeof state) == 0);
    }
    if (result != VPORT_SERIAL_DONE) {
      FUZZ_CHECK(reply.written == 0 && reply.purge == 0);
      continue;
    }
    for (const Echo& echo : kEchoes)
      if (echo.set == code) ReadBack(&state, echo, inCopy);
  }
  return 0;
}
