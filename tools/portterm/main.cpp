// portterm: a terminal program of the project's own for COM ports.
//
//   portterm PORT [--baud N] [--timeout MS] [--send TEXT] [--read N]
//                 [--echo BYTES] [--rtt COUNT] [--stdin]
//
// Opens PORT (COM3, or \\.\COM3) read/write, sets N 8N1 without flow control
// and a read time-out of MS (a read returns what came, after waiting up to MS
// for the first byte). PORT tcp:ADDRESS:NUMBER talks TCP to that endpoint
// instead, with the same steps, to compare the port with the direct way. Then,
// in this order: writes TEXT; reads N bytes and
// prints them; writes BYTES bytes of a fixed pattern in 4 KiB blocks, reading
// each block back through the far end's echo and comparing it byte for byte;
// times COUNT one-byte round trips; then, with --stdin, runs the steps its
// input names, one per line ("echo 4096"), until its input ends. Prints one
// line per step. A COM port is opened overlapped, as most serial programs
// open it, so that the steps below can keep two writes in flight:
//   pair A B     writes A and then B bytes of the pattern with both writes
//                pending together, and reads the A + B bytes back through the
//                far end's echo, in order, byte for byte;
//   write N      one write of N pattern bytes; prints what the port said of it
//                ("write: N bytes: done, W written" or "...: error E") and
//                goes on either way;
//   expect N     reads until a read returns nothing and checks that exactly
//                the first N pattern bytes came.
// Exit status: 0 all done, 1 a step failed (said why), 2 a bad command line.
#include <winsock2.h>
// after winsock2.h, which must come first
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr size_t kEchoBlock = 4096;

struct Options {
  std::string port;
  size_t pair[2] = {0, 0};
  size_t write = 0;
  size_t expect = 0;
  DWORD baud = 115200;
  DWORD timeoutMs = 5000;
  std::string send;
  size_t read = 0;
  size_t echo = 0;
  size_t rtt = 0;
  bool stdinSteps = false;
};

int Usage() {
  std::fprintf(stderr,
               "usage: portterm PORT [--baud N] [--timeout MS] [--send TEXT] [--read N] [--echo BYTES] "
               "[--rtt COUNT] [--stdin]\n");
  return kExitUsage;
}

bool ParseCount(const char* text, size_t& out) {
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || value > (1ull << 31)) return false;
  out = static_cast<size_t>(value);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  if (argc < 2 || argv[1][0] == '-') return false;
  o.port = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--stdin") {
      o.stdinSteps = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* text = argv[++i];
    size_t value = 0;
    if (name == "--send") {
      o.send = text;
      continue;
    }
    if (!ParseCount(text, value)) return false;
    if (name == "--baud" && value > 0)
      o.baud = static_cast<DWORD>(value);
    else if (name == "--timeout")
      o.timeoutMs = static_cast<DWORD>(value);
    else if (name == "--read")
      o.read = value;
    else if (name == "--echo")
      o.echo = value;
    else if (name == "--rtt")
      o.rtt = value;
    else
      return false;
  }
  return true;
}

int Fail(const char* what) {
  std::fprintf(stderr, "portterm: %s (error %lu)\n", what, GetLastError());
  return kExitFailed;
}

bool Configure(HANDLE port, const Options& o) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return false;
  dcb.BaudRate = o.baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(port, &dcb)) return false;
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, o.timeoutMs, 0, o.timeoutMs};
  return SetCommTimeouts(port, &timeouts) != FALSE;
}

// The far end: a COM port, or a TCP connection for the direct comparison.
struct Line {
  HANDLE port = INVALID_HANDLE_VALUE;
  SOCKET tcp = INVALID_SOCKET;
};

// A read or write of the port opened overlapped: started, then waited for.
class PortRequest {
 public:
  PortRequest() { overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~PortRequest() { CloseHandle(overlapped_.hEvent); }
  PortRequest(const PortRequest&) = delete;
  PortRequest& operator=(const PortRequest&) = delete;

  // False when the port refused it at once (GetLastError says why).
  bool Start(HANDLE port, char* data, size_t size, bool write) {
    port_ = port;
    DWORD n = 0;
    BOOL ok = write ? WriteFile(port, data, static_cast<DWORD>(size), &n, &overlapped_)
                    : ReadFile(port, data, static_cast<DWORD>(size), &n, &overlapped_);
    return ok || GetLastError() == ERROR_IO_PENDING;
  }
  // Waits for its end; false with GetLastError when it failed.
  bool Finish(DWORD& moved) { return GetOverlappedResult(port_, &overlapped_, &moved, TRUE) != FALSE; }

 private:
  HANDLE port_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_{};
};

// One write or read of at most `size` bytes; bytes moved, 0 on a time-out or failure.
size_t Move(const Line& line, char* data, size_t size, bool write) {
  if (line.tcp != INVALID_SOCKET) {
    int n = write ? send(line.tcp, data, static_cast<int>(size), 0)
                  : recv(line.tcp, data, static_cast<int>(size), 0);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
  PortRequest request;
  DWORD n = 0;
  return request.Start(line.port, data, size, write) && request.Finish(n) ? n : 0;
}

bool WriteAll(const Line& line, const char* data, size_t size) {
  while (size > 0) {
    size_t written = Move(line, const_cast<char*>(data), size, true);
    if (written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// Reads until `size` bytes came or a read returned none (the time-out passed).
size_t ReadUpTo(const Line& line, char* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    size_t n = Move(line, data + got, size - got, false);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// tcp:ADDRESS:NUMBER, connected, with the read time-out; INVALID_SOCKET when not.
SOCKET ConnectTcp(const std::string& endpoint, DWORD timeoutMs) {
  size_t colon = endpoint.rfind(':');
  if (colon == std::string::npos || colon < 5) return INVALID_SOCKET;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = inet_addr(endpoint.substr(4, colon - 4).c_str());
  to.sin_port = htons(static_cast<u_short>(std::atoi(endpoint.c_str() + colon + 1)));
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  const BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Opens the line PORT names; prints how, or says why not and returns false.
bool Open(const Options& o, Line& line) {
  if (o.port.rfind("tcp:", 0) == 0) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
      Fail("no sockets");
      return false;
    }
    line.tcp = ConnectTcp(o.port, o.timeoutMs);
    if (line.tcp == INVALID_SOCKET) {
      Fail(("cannot connect to " + o.port.substr(4)).c_str());
      return false;
    }
    std::printf("open: %s\n", o.port.c_str());
    return true;
  }
  std::string path = o.port.rfind("\\\\.\\", 0) == 0 ? o.port : "\\\\.\\" + o.port;
  line.port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
  if (line.port == INVALID_HANDLE_VALUE) {
    Fail(("cannot open " + o.port).c_str());
    return false;
  }
  if (!Configure(line.port, o)) {
    Fail("the port refused its line settings");
    return false;
  }
  std::printf("open: %s at %lu 8N1\n", o.port.c_str(), o.baud);
  return true;
}

char PatternByte(size_t i) {
  return static_cast<char>(i * 7 + i / 251);
}

int Echo(const Line& port, size_t total) {
  auto start = std::chrono::steady_clock::now();
  std::vector<char> sent(kEchoBlock), back(kEchoBlock);
  for (size_t at = 0; at < total; at += kEchoBlock) {
    size_t block = std::min(kEchoBlock, total - at);
    for (size_t i = 0; i < block; ++i) sent[i] = PatternByte(at + i);
    if (!WriteAll(port, sent.data(), block)) return Fail("echo: a write failed");
    size_t got = ReadUpTo(port, back.data(), block);
    if (got != block) {
      std::fprintf(stderr, "portterm: echo: %zu of %zu bytes came back at offset %zu\n", got, block, at);
      return kExitFailed;
    }
    auto differs = std::mismatch(sent.begin(), sent.begin() + block, back.begin());
    if (differs.first != sent.begin() + block) {
      std::fprintf(stderr, "portterm: echo: byte %zu differs\n", at + (differs.first - sent.begin()));
      return kExitFailed;
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("echo: %zu bytes back byte for byte in %.3f s (%.0f KiB/s)\n", total, seconds,
              seconds > 0 ? total / 1024.0 / seconds : 0.0);
  return kExitDone;
}

std::vector<char> Pattern(size_t from, size_t count) {
  std::vector<char> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = PatternByte(from + i);
  return bytes;
}

// Where `got` first differs from the pattern; got.size() when it does not.
size_t FirstDifference(const std::vector<char>& got) {
  const std::vector<char> wanted = Pattern(0, got.size());
  return static_cast<size_t>(std::mismatch(got.begin(), got.end(), wanted.begin()).first - got.begin());
}

// Two writes pending together: a program with more than one write in flight
// expects its bytes to leave in the order it wrote them.
int Pair(const Line& line, size_t first, size_t second) {
  if (line.port == INVALID_HANDLE_VALUE) return Fail("pair: needs a COM port");
  std::vector<char> bytes = Pattern(0, first + second);
  PortRequest one, two;
  if (!one.Start(line.port, bytes.data(), first, true) ||
      !two.Start(line.port, bytes.data() + first, second, true))
    return Fail("pair: a write was refused");
  DWORD written[2] = {0, 0};
  const bool done = one.Finish(written[0]) && two.Finish(written[1]);
  if (!done || written[0] != first || written[1] != second) return Fail("pair: a write failed");
  std::vector<char> back(first + second);
  back.resize(ReadUpTo(line, back.data(), back.size()));
  const size_t differs = FirstDifference(back);
  if (back.size() != bytes.size() || differs != back.size()) {
    std::fprintf(stderr, "portterm: pair: %zu of %zu bytes came back, the first difference at %zu\n",
                 back.size(), bytes.size(), differs);
    return kExitFailed;
  }
  std::printf("pair: %zu + %zu bytes back in order\n", first, second);
  return kExitDone;
}

// One write, whatever the port says of it: a check may expect a refusal.
int WriteOnce(const Line& line, size_t count) {
  if (line.port == INVALID_HANDLE_VALUE) return Fail("write: needs a COM port");
  std::vector<char> bytes = Pattern(0, count);
  PortRequest request;
  DWORD written = 0;
  if (request.Start(line.port, bytes.data(), count, true) && request.Finish(written))
    std::printf("write: %zu bytes: done, %lu written\n", count, written);
  else
    std::printf("write: %zu bytes: error %lu\n", count, GetLastError());
  return kExitDone;
}

// Reads until the line is quiet for kQuietMs: exactly the first `count`
// pattern bytes must have come.
int Expect(const Line& line, size_t count) {
  constexpr DWORD kQuietMs = 2000;
  COMMTIMEOUTS kept{}, quiet{MAXDWORD, MAXDWORD, kQuietMs, 0, 0};
  const bool port = line.port != INVALID_HANDLE_VALUE;
  if (port && (!GetCommTimeouts(line.port, &kept) || !SetCommTimeouts(line.port, &quiet)))
    return Fail("expect: the port refused its time-outs");
  std::vector<char> got(count + 1);
  got.resize(ReadUpTo(line, got.data(), got.size()));
  if (port) SetCommTimeouts(line.port, &kept);
  const size_t differs = FirstDifference(got);
  std::printf("expect: %zu bytes came, %s\n", got.size(),
              got.size() == count && differs == count ? "as written" : "not as written");
  return got.size() == count && differs == count ? kExitDone : kExitFailed;
}

double Median(std::vector<double>& values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

int RoundTrips(const Line& port, size_t count) {
  std::vector<double> micros, writeMicros;
  for (size_t i = 0; i < count; ++i) {
    char out = PatternByte(i), in = 0;
    auto start = std::chrono::steady_clock::now();
    if (!WriteAll(port, &out, 1)) return Fail("round trip: a write failed");
    writeMicros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    if (ReadUpTo(port, &in, 1) != 1 || in != out) {
      std::fprintf(stderr, "portterm: round trip %zu: no echo\n", i);
      return kExitFailed;
    }
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  if (micros.empty()) return kExitDone;
  const double median = Median(micros);
  std::printf(
      "round trip: %zu of 1 byte, median %.0f us, fastest %.0f us (the write alone: median %.0f us)\n", count,
      median, micros.front(), Median(writeMicros));
  return kExitDone;
}

// The steps an Options names, in their order.
int RunSteps(const Line& port, const Options& o) {
  if (!o.send.empty()) {
    if (!WriteAll(port, o.send.data(), o.send.size())) return Fail("the write failed");
    std::printf("sent: %zu bytes\n", o.send.size());
  }
  if (o.read > 0) {
    std::string text(o.read, 0);
    text.resize(ReadUpTo(port, text.data(), o.read));
    std::printf("read: %zu bytes: %s\n", text.size(), text.c_str());
    if (text.size() != o.read) return kExitFailed;
  }
  if (o.echo > 0 && Echo(port, o.echo) != kExitDone) return kExitFailed;
  if (o.rtt > 0 && RoundTrips(port, o.rtt) != kExitDone) return kExitFailed;
  if (o.pair[0] + o.pair[1] > 0 && Pair(port, o.pair[0], o.pair[1]) != kExitDone) return kExitFailed;
  if (o.write > 0) WriteOnce(port, o.write);
  if (o.expect > 0 && Expect(port, o.expect) != kExitDone) return kExitFailed;
  return kExitDone;
}

bool ReadLine(std::string& line) {
  char buffer[512];
  if (!std::fgets(buffer, sizeof buffer, stdin)) return false;
  line = buffer;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return Usage();
  Line port;
  int result = Open(o, port) ? kExitDone : kExitFailed;
  if (result == kExitDone) result = RunSteps(port, o);
  // Further steps, one per line ("send TEXT", "read N", "echo N", "rtt N",
  // "pair A B", "write N", "expect N"), with the port kept open in between: for
  // a check that changes the far end meanwhile.
  for (std::string line; result == kExitDone && o.stdinSteps && ReadLine(line);) {
    Options step;
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space),
                argument = space == std::string::npos ? "" : line.substr(space + 1);
    size_t count = 0;
    const size_t gap = argument.find(' ');
    if (verb == "send")
      step.send = argument;
    else if (verb == "pair" && gap != std::string::npos &&
             ParseCount(argument.substr(0, gap).c_str(), step.pair[0]) &&
             ParseCount(argument.substr(gap + 1).c_str(), step.pair[1])) {
      // both counts read
    } else if (ParseCount(argument.c_str(), count) &&
               (verb == "read" || verb == "echo" || verb == "rtt" || verb == "write" || verb == "expect"))
      (verb == "read"    ? step.read
       : verb == "echo"  ? step.echo
       : verb == "rtt"   ? step.rtt
       : verb == "write" ? step.write
                         : step.expect) = count;
    else
      break;
    result = RunSteps(port, step);
    std::fflush(stdout);
  }
  if (port.tcp != INVALID_SOCKET) closesocket(port.tcp);
  if (port.port != INVALID_HANDLE_VALUE) CloseHandle(port.port);
  std::fflush(stdout);
  return result;
}
