// Sockets: the asynchronous socket class whose read notifications arrive on the
// window thread, and thin blocking UDP calls for the boot-loader file server.
//
// Addresses are IPv4 only. Address texts are dotted decimal; an address given as
// a 32-bit value is in host order (first octet in the high byte).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tk/types.h"

namespace tk {

constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;
constexpr int SOCKET_ERROR = -1;
// Platform error codes reported by GetLastError (the Windows Sockets values on
// both backends).
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEINVAL = 10022;

// inet_addr semantics: the 32-bit address in host order, or 0xFFFFFFFF (INADDR_NONE)
// when the text is not an address ("255.255.255.255" gives the same value).
std::uint32_t InetAddr(const std::string& dotted);
std::string InetNtoa(std::uint32_t hostOrderAddress);

class CAsyncSocket {
 public:
  CAsyncSocket();
  virtual ~CAsyncSocket();
  CAsyncSocket(const CAsyncSocket&) = delete;
  CAsyncSocket& operator=(const CAsyncSocket&) = delete;

  // Creates the socket, binds it to `port` on `address` (empty: any address) and
  // asks for the notifications in `events` (FD_READ | ...). False on failure,
  // with the reason in GetLastError.
  bool Create(unsigned port = 0, int type = SOCK_STREAM, long events = FD_READ | FD_WRITE | FD_CLOSE,
              const std::string& address = {});
  void Close();
  bool IsOpen() const;

  // Sends one datagram; returns the bytes sent or SOCKET_ERROR.
  int SendTo(const void* buf, int len, unsigned port, const std::string& address, int flags = 0);
  // Receives one datagram into buf. A datagram longer than len is a failed
  // receive (SOCKET_ERROR, GetLastError() == WSAEMSGSIZE) on every backend.
  int ReceiveFrom(void* buf, int len, std::string& senderAddress, unsigned& senderPort, int flags = 0);
  bool GetSockName(std::string& address, unsigned& port) const;

  // Socket options.
  bool SetBroadcast(bool on);
  bool SetReuseAddress(bool on);
  bool SetReceiveBufferSize(int bytes);
  int GetReceiveBufferSize() const;  // -1 on failure
  // IP_ADD_MEMBERSHIP of `group` on the interface `interfaceAddress` (empty: any).
  bool JoinMulticastGroup(const std::string& group, const std::string& interfaceAddress = {});
  bool SetMulticastTTL(int ttl);
  bool SetMulticastLoopback(bool on);

  // The error of the last failed call on this socket (Windows Sockets numbering).
  int GetLastError() const { return m_lastError; }

 protected:
  // Notifications, delivered on the window thread.
  virtual void OnReceive(int errorCode);
  virtual void OnSend(int errorCode);
  virtual void OnClose(int errorCode);

 private:
  friend class SocketDispatch;
  std::intptr_t m_socket = -1;
  int m_lastError = 0;
  long m_events = 0;
};

// Blocking UDP for the file server, which owns the thread for a whole transfer.
class BlockingUdpSocket {
 public:
  BlockingUdpSocket() = default;
  ~BlockingUdpSocket();
  BlockingUdpSocket(const BlockingUdpSocket&) = delete;
  BlockingUdpSocket& operator=(const BlockingUdpSocket&) = delete;

  bool Open();  // a datagram socket
  bool SetBroadcast(bool on);
  bool SetReuseAddress(bool on);
  bool Bind(unsigned port, const std::string& address = {});  // empty: any address
  // Waits up to timeoutMs for a datagram: 1 readable, 0 timed out, -1 error.
  int WaitReadable(int timeoutMs);
  // Waits up to timeoutMs until one of `sockets` (open ones) has a datagram:
  // the count of readable ones, 0 timed out, -1 error. `readable` gets a flag each.
  static int WaitAnyReadable(const std::vector<BlockingUdpSocket*>& sockets, int timeoutMs,
                             std::vector<bool>& readable);
  int ReceiveFrom(void* buf, int len, std::string& senderAddress, unsigned& senderPort);
  int SendTo(const void* buf, int len, unsigned port, const std::string& address);
  bool GetSockName(std::string& address, unsigned& port) const;
  void Close();
  bool IsOpen() const { return m_socket != -1; }
  int GetLastError() const { return m_lastError; }

 private:
  std::intptr_t m_socket = -1;
  int m_lastError = 0;
};

}  // namespace tk
