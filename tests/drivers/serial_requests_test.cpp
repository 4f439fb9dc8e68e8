// The serial requests of terminal programs as the virtual port answers them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "serial_requests.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes U32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Port {
  VportSerialState state;
  VportSerialReply reply{};
  Port() { VportSerialDefaults(&state); }
  VportSerialResult Send(uint32_t code, const Bytes& in) {
    return VportSerialRequest(&state, code, in.data(), in.size(), nullptr, 0, &reply);
  }
  // The answer to a get request, read through a buffer larger than it needs.
  Bytes Ask(uint32_t code) {
    Bytes out(100, 0xCC);
    EXPECT_EQ(VportSerialRequest(&state, code, nullptr, 0, out.data(), out.size(), &reply),
              VPORT_SERIAL_DONE);
    out.resize(reply.written);
    return out;
  }
};

// What a program sets it reads back, byte for byte, in the platform's layouts.
TEST(SerialRequests, SettingsComeBackAsSet) {
  const struct {
    uint32_t set, get;
    Bytes value;
  } cases[] = {
      {VPORT_SERIAL_SET_BAUD_RATE, VPORT_SERIAL_GET_BAUD_RATE, U32(115200)},
      {VPORT_SERIAL_SET_LINE_CONTROL, VPORT_SERIAL_GET_LINE_CONTROL, {2, 2, 7}},  // 7E2
      {VPORT_SERIAL_SET_LINE_CONTROL, VPORT_SERIAL_GET_LINE_CONTROL, {1, 4, 5}},  // 5S1.5
      {VPORT_SERIAL_SET_TIMEOUTS, VPORT_SERIAL_GET_TIMEOUTS,
       Join({U32(0xFFFFFFFF), U32(0), U32(0), U32(7), U32(500)})},  // reads return at once
      {VPORT_SERIAL_SET_TIMEOUTS, VPORT_SERIAL_GET_TIMEOUTS,
       Join({U32(0xFFFFFFFF), U32(0xFFFFFFFF), U32(250), U32(0), U32(0)})},  // first byte or 250 ms
      {VPORT_SERIAL_SET_CHARS, VPORT_SERIAL_GET_CHARS, {0x1A, '?', 0, '\n', 0x11, 0x13}},
      {VPORT_SERIAL_SET_HANDFLOW, VPORT_SERIAL_GET_HANDFLOW,
       Join({U32(0x0A), U32(0x83), U32(100), U32(200)})},
      {VPORT_SERIAL_SET_WAIT_MASK, VPORT_SERIAL_GET_WAIT_MASK, U32(0x1FFF)},
  };
  for (const auto& c : cases) {
    Port port;
    ASSERT_EQ(port.Send(c.set, c.value), VPORT_SERIAL_DONE) << std::hex << c.set;
    EXPECT_EQ(port.Ask(c.get), c.value) << std::hex << c.get;
  }
}

// A value no serial port takes, or a record cut short, is refused and the
// port keeps what it had.
TEST(SerialRequests, RefusalsLeaveThePortAsItWas) {
  const struct {
    uint32_t code;
    Bytes in;
    VportSerialResult result;
  } cases[] = {
      {VPORT_SERIAL_SET_BAUD_RATE, U32(0), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_BAUD_RATE, {0x00, 0xC2, 0x01}, VPORT_SERIAL_BUFFER_TOO_SMALL},
      {VPORT_SERIAL_SET_LINE_CONTROL, {0, 0, 4}, VPORT_SERIAL_BAD_PARAMETER},  // 4 data bits
      {VPORT_SERIAL_SET_LINE_CONTROL, {0, 0, 9}, VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_LINE_CONTROL, {0, 5, 8}, VPORT_SERIAL_BAD_PARAMETER},  // no parity 5
      {VPORT_SERIAL_SET_LINE_CONTROL,
       {1, 0, 8},
       VPORT_SERIAL_BAD_PARAMETER},  // 1.5 stop bits need 5 data bits
      {VPORT_SERIAL_SET_LINE_CONTROL, {2, 0, 5}, VPORT_SERIAL_BAD_PARAMETER},  // 2 stop bits don't go with 5
      {VPORT_SERIAL_SET_LINE_CONTROL, {0, 0}, VPORT_SERIAL_BUFFER_TOO_SMALL},
      {VPORT_SERIAL_SET_TIMEOUTS, Join({U32(0xFFFFFFFF), U32(0xFFFFFFFF), U32(0xFFFFFFFF), U32(0), U32(0)}),
       VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_TIMEOUTS, Bytes(19, 0), VPORT_SERIAL_BUFFER_TOO_SMALL},
      {VPORT_SERIAL_SET_HANDFLOW, Join({U32(0x03), U32(0), U32(0), U32(0)}), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_HANDFLOW, Join({U32(0x04), U32(0), U32(0), U32(0)}), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_HANDFLOW, Join({U32(0), U32(0x20), U32(0), U32(0)}), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_WAIT_MASK, U32(0x2000), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_PURGE, U32(0), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_PURGE, U32(0x10), VPORT_SERIAL_BAD_PARAMETER},
      {VPORT_SERIAL_SET_CHARS, Bytes(5, 0), VPORT_SERIAL_BUFFER_TOO_SMALL},
      {VPORT_SERIAL_WAIT_ON_MASK, {}, VPORT_SERIAL_UNSUPPORTED},
      {VPORT_SERIAL_IMMEDIATE_CHAR, {'x'}, VPORT_SERIAL_UNSUPPORTED},
  };
  for (const auto& c : cases) {
    Port port;
    const VportSerialState before = port.state;
    EXPECT_EQ(port.Send(c.code, c.in), c.result) << std::hex << c.code;
    EXPECT_EQ(std::memcmp(&before, &port.state, sizeof before), 0) << std::hex << c.code;
  }
  // A reply that does not fit is refused whole.
  Port port;
  Bytes small(VPORT_SERIAL_PROPERTIES_SIZE - 1);
  EXPECT_EQ(VportSerialRequest(&port.state, VPORT_SERIAL_GET_PROPERTIES, nullptr, 0, small.data(),
                               small.size(), &port.reply),
            VPORT_SERIAL_BUFFER_TOO_SMALL);
  EXPECT_EQ(port.reply.written, 0u);
}

// DTR and RTS follow the handshake settings and the program's own requests,
// except where a handshake drives them; the modem lines follow the connection.
TEST(SerialRequests, LinesFollowHandshakeRequestsAndTheConnection) {
  Port port;
  EXPECT_EQ(port.Ask(VPORT_SERIAL_GET_DTRRTS), U32(VPORT_LINE_DTR | VPORT_LINE_RTS));
  ASSERT_EQ(port.Send(VPORT_SERIAL_CLR_RTS, {}), VPORT_SERIAL_DONE);
  EXPECT_EQ(port.Ask(VPORT_SERIAL_GET_DTRRTS), U32(VPORT_LINE_DTR));
  ASSERT_EQ(port.Send(VPORT_SERIAL_SET_HANDFLOW, Join({U32(0), U32(0), U32(0), U32(0)})), VPORT_SERIAL_DONE);
  EXPECT_EQ(port.Ask(VPORT_SERIAL_GET_DTRRTS), U32(0)) << "handshake off takes both lines down";
  ASSERT_EQ(port.Send(VPORT_SERIAL_SET_HANDFLOW, Join({U32(0x02), U32(0x80), U32(0), U32(0)})),
            VPORT_SERIAL_DONE);
  EXPECT_EQ(port.Send(VPORT_SERIAL_CLR_DTR, {}), VPORT_SERIAL_BAD_PARAMETER) << "DTR handshake owns the line";
  EXPECT_EQ(port.Send(VPORT_SERIAL_SET_RTS, {}), VPORT_SERIAL_BAD_PARAMETER) << "RTS handshake owns the line";

  EXPECT_EQ(port.Ask(VPORT_SERIAL_GET_MODEMSTATUS), U32(0));
  port.state.lineUp = 1;
  EXPECT_EQ(port.Ask(VPORT_SERIAL_GET_MODEMSTATUS), U32(VPORT_MODEM_CTS | VPORT_MODEM_DSR | VPORT_MODEM_DCD));

  port.state.inQueued = 300;
  port.state.outQueued = 12;
  EXPECT_EQ(port.Ask(VPORT_SERIAL_GET_COMMSTATUS), Join({U32(0), U32(0), U32(300), U32(12), U32(0)}));
  ASSERT_EQ(port.Send(VPORT_SERIAL_PURGE, U32(VPORT_PURGE_RXCLEAR | VPORT_PURGE_TXABORT)), VPORT_SERIAL_DONE);
  EXPECT_EQ(port.reply.purge, VPORT_PURGE_RXCLEAR | VPORT_PURGE_TXABORT) << "the caller empties the queues";

  ASSERT_EQ(port.Send(VPORT_SERIAL_SET_QUEUE_SIZE, Join({U32(8192), U32(1024)})), VPORT_SERIAL_DONE);
  Bytes properties = port.Ask(VPORT_SERIAL_GET_PROPERTIES);
  ASSERT_EQ(properties.size(), size_t{VPORT_SERIAL_PROPERTIES_SIZE});
  EXPECT_EQ(Bytes(properties.begin() + 44, properties.begin() + 52), Join({U32(1024), U32(8192)}))
      << "current output then input queue";
}

}  // namespace
