// Cases for a datagram against the receive buffer of an asynchronous socket,
// shared by the headless and the win32 suites so both backends are held to the
// same table: what OnReceive reads of one datagram, and that the next datagram
// arrives whole (an over-long one is consumed, not split).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tk/tk.h"

namespace tktest {

struct DatagramCase {
  const char* label;
  int length;  // bytes sent
  int buffer;  // bytes the receiver reads into
  int result;  // what ReceiveFrom returns
  int error;   // GetLastError() after a failed receive
};

inline constexpr DatagramCase kDatagramCases[] = {
    {"ShorterThanTheBuffer", 5, 16, 5, 0},
    {"ExactlyFillsTheBuffer", 16, 16, 16, 0},
    {"OneByteTooLongIsAFailedReceive", 17, 16, tk::SOCKET_ERROR, tk::WSAEMSGSIZE},
    {"FarTooLongIsAFailedReceive", 300, 256, tk::SOCKET_ERROR, tk::WSAEMSGSIZE},
};

// Pumps the backend's socket notifications until `done` or `ms` have passed.
using PumpUntilFn = std::function<bool(const std::function<bool()>& done, int ms)>;

class CaseReceiver : public tk::CAsyncSocket {
 public:
  explicit CaseReceiver(int buffer) : m_buffer(buffer) {}
  std::vector<int> results;
  std::vector<int> errors;
  std::vector<std::string> texts;

 protected:
  void OnReceive(int) override {
    std::vector<char> bytes(static_cast<size_t>(m_buffer));
    std::string sender;
    unsigned port = 0;
    const int n = ReceiveFrom(bytes.data(), m_buffer, sender, port);
    results.push_back(n);
    errors.push_back(n == tk::SOCKET_ERROR ? GetLastError() : 0);
    texts.emplace_back(bytes.data(), n > 0 ? static_cast<size_t>(n) : 0);
  }

 private:
  int m_buffer;
};

// Sends the case's datagram and then "ok" on 127.0.0.1; checks what arrived.
inline void RunDatagramCase(const DatagramCase& c, const PumpUntilFn& pumpUntil) {
  CaseReceiver rx(c.buffer);
  tk::CAsyncSocket tx;
  ASSERT_TRUE(rx.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  ASSERT_TRUE(tx.Create(0, tk::SOCK_DGRAM, 0, "127.0.0.1"));
  std::string address;
  unsigned port = 0;
  ASSERT_TRUE(rx.GetSockName(address, port));
  const std::string datagram(static_cast<size_t>(c.length), 'd');
  ASSERT_EQ(tx.SendTo(datagram.data(), c.length, port, "127.0.0.1"), c.length);
  ASSERT_EQ(tx.SendTo("ok", 2, port, "127.0.0.1"), 2);
  ASSERT_TRUE(pumpUntil([&] { return rx.results.size() >= 2; }, 3000));
  EXPECT_EQ(rx.results[0], c.result);
  EXPECT_EQ(rx.errors[0], c.error);
  if (c.result >= 0) {
    EXPECT_EQ(rx.texts[0], datagram);
  }
  EXPECT_EQ(rx.texts[1], "ok") << "the next datagram arrives whole";
}

}  // namespace tktest
