// The virtual port driver for real under Wine: installed from its installation
// file through the port manager's SetupAPI sequence, driven through its control
// requests, and removed again by the removal tool.
// Winsock 2 before <windows.h>, which would bring in version 1; <windows.h>
// before the access-list text form, which builds on its types.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge_records.h"
#include "le_fields.h"
#include "port_records.h"
#include "port_setup.h"

namespace vport_test {
namespace {

using Bytes = std::vector<uint8_t>;

// Paths of the built files, given by the build as Z:/... paths.
constexpr const char* kDriverFile = VPORT_DRIVER_FILE;
constexpr const char* kInfFile = VPORT_INF_FILE;
constexpr const char* kRemovalTool = VPORT_REMOVAL_TOOL;
constexpr const char* kInfFolder = VPORT_INF_FOLDER;
constexpr const char* kDataService = VPORTD_FILE;

// The driver starts inside Wine's device host; the interface follows shortly.
constexpr DWORD kWaitMs = 30000;

std::string SystemPath(const char* under) {
  char dir[MAX_PATH] = {};
  GetWindowsDirectoryA(dir, sizeof dir);
  return std::string(dir) + under;
}

bool Present(const std::string& path) {
  auto all = ComPortInterfaces();
  return std::find(all.begin(), all.end(), path) != all.end();
}

// Bounded wait for the list of virtual port interfaces to differ from `before`.
std::string WaitForNewPort(const std::vector<std::string>& before) {
  for (DWORD waited = 0; waited < kWaitMs; waited += 100) {
    for (const auto& path : ComPortInterfaces()) {
      if (std::find(before.begin(), before.end(), path) == before.end()) return path;
    }
    Sleep(100);
  }
  return {};
}

bool WaitUntilGone(const std::string& path) {
  for (DWORD waited = 0; waited < kWaitMs; waited += 100) {
    if (!Present(path)) return true;
    Sleep(100);
  }
  return false;
}

// Runs the removal tool with `arguments`; its exit status, or -1 if it did not finish.
int RunRemovalTool(const std::string& arguments) {
  std::string command = std::string("\"") + kRemovalTool + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  DWORD status = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

// The COM names the platform lists for serial programs.
std::vector<std::string> ListedComNames() {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    char name[256], data[64] = {};
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
        ERROR_SUCCESS)
      break;
    if (type == REG_SZ) names.push_back(data);
  }
  RegCloseKey(key);
  return names;
}

// Adds one more port; its interface path, empty if it did not appear.
std::string AddPort() {
  auto before = ComPortInterfaces();
  if (!InstallPort("QN520xx.inf").ok()) return {};
  return WaitForNewPort(before);
}

// Removes a port the test added and waits until it is gone.
bool RemovePort(const std::string& path) {
  return RemoveInstance(InstanceIdOf(path)) && WaitUntilGone(path);
}

// The COM name a port reports; empty if it cannot be read.
std::string ComNameOf(const std::string& path) {
  HANDLE port = OpenPort(path);
  if (port == INVALID_HANDLE_VALUE) return {};
  auto reply = Control(port, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  CloseHandle(port);
  if (!reply.ok) return {};
  return std::string(reinterpret_cast<const char*>(reply.output.data()),
                     strnlen(reinterpret_cast<const char*>(reply.output.data()), VPORT_DOS_NAME_MAX));
}

// A DOS device name held by another device while it lives.
class ForeignDosName {
 public:
  explicit ForeignDosName(const std::string& name) : name_(name) {
    defined_ = DefineDosDeviceA(DDD_RAW_TARGET_PATH, name_.c_str(), "\\Device\\Null") != 0;
  }
  ~ForeignDosName() {
    if (defined_)
      DefineDosDeviceA(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION, name_.c_str(), "\\Device\\Null");
  }
  ForeignDosName(const ForeignDosName&) = delete;
  ForeignDosName& operator=(const ForeignDosName&) = delete;
  bool defined() const { return defined_; }

 private:
  std::string name_;
  bool defined_ = false;
};

// The device's own key refuses writes while it lives; its access list is
// restored after.
class ReadOnlyDeviceKey {
 public:
  explicit ReadOnlyDeviceKey(const std::string& instanceId)
      : key_(OpenDeviceKey(instanceId, KEY_READ | READ_CONTROL | WRITE_DAC)) {
    if (key_ == nullptr) return;
    DWORD size = 0;
    RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    if (size == 0 ||
        RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
      return;
    // Everyone may read it, change its access list and delete it; nobody may
    // write to it.
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KRWDSD;;;WD)", SDDL_REVISION_1,
                                                              &readOnly, nullptr))
      return;
    applied_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
    LocalFree(readOnly);
  }
  ~ReadOnlyDeviceKey() {
    if (applied_) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ReadOnlyDeviceKey(const ReadOnlyDeviceKey&) = delete;
  ReadOnlyDeviceKey& operator=(const ReadOnlyDeviceKey&) = delete;
  bool applied() const { return applied_; }

 private:
  HKEY key_;
  std::vector<BYTE> saved_;
  bool applied_ = false;
};

Bytes Request(Bytes address, Bytes port, uint8_t type, uint32_t connectAtStart, uint32_t maxPacket) {
  Bytes r(VPORT_REQ_SIZE, 0);
  std::copy(address.begin(), address.end(), r.begin() + VPORT_REQ_ADDRESS_OFS);
  std::copy(port.begin(), port.end(), r.begin() + VPORT_REQ_PORT_OFS);
  r[VPORT_REQ_TYPE_OFS] = type;
  for (int i = 0; i < 4; ++i) {
    r[VPORT_REQ_CONNECT_AT_START_OFS + i] = static_cast<uint8_t>(connectAtStart >> (8 * i));
    r[VPORT_REQ_MAX_PACKET_OFS + i] = static_cast<uint8_t>(maxPacket >> (8 * i));
  }
  return r;
}

// One port installed for the whole suite, removed by the last test (or at the end).
class VirtualPortUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // With DI_NOFILECOPY the platform finds compatible drivers only among the
    // installation files it knows, and loads the driver from its own folder.
    ASSERT_TRUE(CopyFileA(kDriverFile, SystemPath("\\system32\\drivers\\qnvport.sys").c_str(), FALSE))
        << GetLastError();
    ASSERT_TRUE(CopyFileA(kInfFile, SystemPath("\\inf\\QN520xx.inf").c_str(), FALSE)) << GetLastError();
    // Wine's SetupDiGetINFClass reads a bare file name's contents from the Windows folder.
    ASSERT_TRUE(CopyFileA(kInfFile, SystemPath("\\QN520xx.inf").c_str(), FALSE)) << GetLastError();
    // The manager passes the bare file name. SetupOpenInfFile finds it in the
    // platform's folder; Wine's SetupDiGetINFClass looks only in the current
    // directory, so the manager runs where a copy of the file lies.
    ASSERT_TRUE(SetCurrentDirectoryA(kInfFolder)) << GetLastError();
    auto before = ComPortInterfaces();
    SetupResult installed = InstallPort("QN520xx.inf");
    ASSERT_TRUE(installed.ok()) << installed.step << " failed: " << installed.error;
    path_ = WaitForNewPort(before);
  }

  static void TearDownTestSuite() {
    if (!path_.empty() && Present(path_)) RemoveInstance(InstanceIdOf(path_));
  }

  void SetUp() override { ASSERT_FALSE(path_.empty()) << "the installed port's interface never appeared"; }

  // Opens the port for one test and closes it after.
  HANDLE Open() {
    HANDLE h = OpenPort(path_);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h != INVALID_HANDLE_VALUE) handles_.push_back(h);
    return h;
  }
  // Opens the port for overlapped requests as a terminal program, closed
  // after the test, and learns its COM number; INVALID_HANDLE_VALUE on failure.
  HANDLE OpenAsProgram(uint32_t* com) {
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h == INVALID_HANDLE_VALUE) return h;
    handles_.push_back(h);
    auto name = Control(h, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
    EXPECT_TRUE(name.ok) << name.error;
    *com = name.ok ? static_cast<uint32_t>(atoi(reinterpret_cast<const char*>(name.output.data()) + 3)) : 0;
    return h;
  }
  void TearDown() override {
    for (HANDLE h : handles_) CloseHandle(h);
  }

  static std::string path_;
  std::vector<HANDLE> handles_;
};

std::string VirtualPortUnderWine::path_;

TEST_F(VirtualPortUnderWine, InterfaceIsARootPortsComPort) {
  EXPECT_NE(path_.find("root#ports#"), std::string::npos) << path_;
  EXPECT_EQ(InstanceIdOf(path_).rfind("root\\ports\\", 0), 0u) << path_;
}

TEST_F(VirtualPortUnderWine, AnswersItsComName) {
  auto reply = Control(Open(), VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  ASSERT_TRUE(reply.ok) << reply.error;
  ASSERT_EQ(reply.output.size(), size_t{VPORT_DOS_NAME_REPLY_SIZE});
  std::string name(reinterpret_cast<const char*>(reply.output.data()),
                   strnlen(reinterpret_cast<const char*>(reply.output.data()), VPORT_DOS_NAME_MAX));
  EXPECT_LT(name.size(), size_t{VPORT_DOS_NAME_MAX});
  EXPECT_EQ(name.rfind("COM", 0), 0u) << name;
  EXPECT_GT(name.size(), 3u);
  EXPECT_EQ(name.find_first_not_of("0123456789", 3), std::string::npos) << name;
  auto listed = ListedComNames();
  EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end())
      << name << " is not in the serial port map";
}

// Serial programs open the port by that name, and reach the same port.
TEST_F(VirtualPortUnderWine, OpensByItsComName) {
  HANDLE port = Open();
  auto reply = Control(port, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  ASSERT_TRUE(reply.ok) << reply.error;
  CloseHandle(port);
  handles_.clear();
  std::string name = "\\\\.\\" + std::string(reinterpret_cast<const char*>(reply.output.data()));
  HANDLE byName = OpenPort(name);
  ASSERT_NE(byName, INVALID_HANDLE_VALUE) << name << ": " << GetLastError();
  handles_.push_back(byName);
  auto again = Control(byName, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.output, reply.output);
}

TEST_F(VirtualPortUnderWine, RemoteSettingsRoundTripByteForByte) {
  HANDLE port = Open();
  struct Case {
    Bytes request;
    Bytes reply;
  };
  const Case cases[] = {
      // 198.51.100.7:4001, TCP client, no connect at start, 450-byte packets.
      {Request({198, 51, 100, 7}, {0x0F, 0xA1}, 0, 0, 450),
       {198, 51, 100, 7, 0x0F, 0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC2, 0x01, 0, 0}},
      // 10.0.0.255:65535, UDP client, connect at start, largest packet size.
      {Request({10, 0, 0, 255}, {0xFF, 0xFF}, 1, 1, 0xFFFFFFFF),
       {10, 0, 0, 255, 0xFF, 0xFF, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, c.request, 0).ok);
    auto reply = Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE);
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.output, c.reply);
  }
}

// The settings outlive the device host: the driver keeps them in the device's
// key and reads them back when the port starts.
TEST_F(VirtualPortUnderWine, KeepsItsSettingsInTheDeviceKey) {
  Bytes request = Request({198, 51, 100, 20}, {0x1F, 0x90}, 1, 1, 1024);
  ASSERT_TRUE(Control(Open(), VPORT_IOCTL_SET_REMOTE_INFO, request, 0).ok);
  EXPECT_EQ(DeviceKeyValue(InstanceIdOf(path_), "RemoteSettings"), request);
}

// Settings it cannot keep are refused with the error, and the old ones stay in
// force, in the port and in its key.
TEST_F(VirtualPortUnderWine, RefusesSettingsItCannotKeep) {
  HANDLE port = Open();
  Bytes kept = Request({198, 51, 100, 30}, {0x0F, 0xA1}, 0, 0, 450);
  ASSERT_TRUE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, kept, 0).ok);
  auto before = Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE);
  {
    ReadOnlyDeviceKey readOnly(InstanceIdOf(path_));
    ASSERT_TRUE(readOnly.applied()) << GetLastError();
    auto refused =
        Control(port, VPORT_IOCTL_SET_REMOTE_INFO, Request({198, 51, 100, 31}, {0, 23}, 1, 1, 64), 0);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error, DWORD{0});
  }
  EXPECT_EQ(Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE).output, before.output);
  EXPECT_EQ(DeviceKeyValue(InstanceIdOf(path_), "RemoteSettings"), kept);
}

// A COM name another device held when a port came is taken once it is free.
TEST_F(VirtualPortUnderWine, TakesAComNameOnceItsHolderLetsGo) {
  // A port that comes and goes shows the name next in line.
  std::string probe = AddPort();
  ASSERT_FALSE(probe.empty());
  const std::string next = ComNameOf(probe);
  ASSERT_TRUE(RemovePort(probe));
  ASSERT_FALSE(next.empty());
  {
    ForeignDosName foreign(next);
    ASSERT_TRUE(foreign.defined()) << GetLastError();
    std::string passing = AddPort();
    ASSERT_FALSE(passing.empty());
    EXPECT_NE(ComNameOf(passing), next) << "a name another device holds";
    ASSERT_TRUE(RemovePort(passing));
  }
  std::string again = AddPort();
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(ComNameOf(again), next);
  EXPECT_TRUE(RemovePort(again));
}

TEST_F(VirtualPortUnderWine, RefusesShortBuffersAndUnknownTypesKeepingItsSettings) {
  HANDLE port = Open();
  Bytes good = Request({198, 51, 100, 9}, {0x00, 0x17}, 0, 0, 450);
  ASSERT_TRUE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, good, 0).ok);
  auto before = Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE);

  Bytes shortRequest = Request({1, 2, 3, 4}, {0, 1}, 0, 0, 1);
  shortRequest.pop_back();
  EXPECT_FALSE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, shortRequest, 0).ok);
  EXPECT_FALSE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, Request({1, 2, 3, 4}, {0, 1}, 2, 0, 1), 0).ok);
  EXPECT_FALSE(Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE - 1).ok);
  EXPECT_FALSE(Control(port, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE - 1).ok);
  EXPECT_FALSE(Control(port, 0x222000, {}, 0).ok) << "an unknown control code is refused";

  EXPECT_EQ(Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE).output, before.output);
}

TEST_F(VirtualPortUnderWine, ConnectsOnlyToAStoredEndpointAndDisconnects) {
  HANDLE port = Open();
  auto connectedFlag = [&] {
    return Control(port, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE)
        .output.at(VPORT_REPLY_CONNECTED_OFS);
  };

  ASSERT_TRUE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, Request({0, 0, 0, 0}, {0, 0}, 0, 0, 450), 0).ok);
  EXPECT_FALSE(Control(port, VPORT_IOCTL_CONNECTION, {}, 0).ok);
  EXPECT_EQ(connectedFlag(), 0);

  ASSERT_TRUE(
      Control(port, VPORT_IOCTL_SET_REMOTE_INFO, Request({198, 51, 100, 10}, {0x0F, 0xA1}, 0, 0, 450), 0).ok);
  auto connect = Control(port, VPORT_IOCTL_CONNECTION, {}, 0);
  EXPECT_TRUE(connect.ok) << connect.error;
  EXPECT_EQ(connectedFlag(), 1);
  EXPECT_TRUE(Control(port, VPORT_IOCTL_DISCONNECTION, {}, 0).ok);
  EXPECT_EQ(connectedFlag(), 0);
}

// A terminal program's set-up through the platform's serial functions: what
// it sets it reads back, a value no port takes fails and changes nothing.
TEST_F(VirtualPortUnderWine, TerminalProgramsSetTheLineAndReadItBack) {
  HANDLE port = Open();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port, &dcb)) << GetLastError();
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
  DCB bad = dcb;
  bad.ByteSize = 4;
  EXPECT_FALSE(SetCommState(port, &bad));
  DCB back{};
  back.DCBlength = sizeof back;
  ASSERT_TRUE(GetCommState(port, &back)) << GetLastError();
  EXPECT_EQ(back.BaudRate, 115200u);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);
  EXPECT_TRUE(back.fOutxCtsFlow);
  EXPECT_EQ(back.fRtsControl, DWORD{RTS_CONTROL_HANDSHAKE});

  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 7, 500};  // reads return at once
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();
  COMMTIMEOUTS timeoutsBack{};
  ASSERT_TRUE(GetCommTimeouts(port, &timeoutsBack)) << GetLastError();
  EXPECT_EQ(std::memcmp(&timeouts, &timeoutsBack, sizeof timeouts), 0);

  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY)) << GetLastError();
  DWORD mask = 0;
  ASSERT_TRUE(GetCommMask(port, &mask)) << GetLastError();
  EXPECT_EQ(mask, DWORD{EV_RXCHAR | EV_TXEMPTY});

  ASSERT_TRUE(SetupComm(port, 8192, 1024)) << GetLastError();
  COMMPROP properties{};
  ASSERT_TRUE(GetCommProperties(port, &properties)) << GetLastError();
  EXPECT_EQ(properties.dwCurrentRxQueue, 8192u);
  EXPECT_EQ(properties.dwCurrentTxQueue, 1024u);
  EXPECT_EQ(properties.dwMaxBaud, DWORD{BAUD_USER});

  DWORD errors = 1;
  COMSTAT status{};
  ASSERT_TRUE(ClearCommError(port, &errors, &status)) << GetLastError();
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.cbInQue, 0u);
  EXPECT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR)) << GetLastError();
  EXPECT_TRUE(EscapeCommFunction(port, SETDTR)) << GetLastError();
  EXPECT_FALSE(EscapeCommFunction(port, SETRTS)) << "the RTS handshake owns the line";
  DWORD modem = 1;
  ASSERT_TRUE(GetCommModemStatus(port, &modem)) << GetLastError();
  EXPECT_EQ(modem, 0u) << "no modem line is up while the port is not connected";
}

// The data service's side of the bridge, played by the test: each NEXT is
// overlapped, so a test can start one before the request it waits for.
class ServiceSide {
 public:
  ServiceSide()
      : handle_(CreateFileA(VPORT_BRIDGE_DOS_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr)) {}
  ~ServiceSide() {
    if (ok()) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  void StartNext() {
    buffer_.assign(VPORT_BRIDGE_HEADER_SIZE + 65536, 0);
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    DeviceIoControl(handle_, VPORT_BRIDGE_NEXT, nullptr, 0, buffer_.data(),
                    static_cast<DWORD>(buffer_.size()), nullptr, &overlapped_);
  }
  // The request NEXT brought, with the bytes after it; kind 0 when none came in time.
  std::pair<VportBridgeRequest, Bytes> FinishNext() {
    DWORD got = 0;
    VportBridgeRequest request{};
    if (WaitForSingleObject(event_, kWaitMs) != WAIT_OBJECT_0 ||
        !GetOverlappedResult(handle_, &overlapped_, &got, FALSE) ||
        !VportReadBridgeRequest(buffer_.data(), got, &request))
      return {};
    Bytes data;
    if (request.kind != VPORT_BRIDGE_READ)
      data.assign(buffer_.begin() + VPORT_BRIDGE_HEADER_SIZE,
                  buffer_.begin() + VPORT_BRIDGE_HEADER_SIZE + request.length);
    return {request, data};
  }
  std::pair<VportBridgeRequest, Bytes> Next() {
    StartNext();
    return FinishNext();
  }
  // Answers a read with its bytes; the platform's error when the driver refused the answer.
  DWORD Answer(uint32_t id, const std::string& bytes) {
    return Send(id, 0, static_cast<uint32_t>(bytes.size()), bytes);
  }
  // Answers a write piece: `accepted` bytes of it, or a refusal `status`.
  DWORD Accept(uint32_t id, uint32_t accepted, uint32_t status = 0) { return Send(id, status, accepted, {}); }
  DWORD Report(uint32_t com, uint32_t state) { return PortRecord(VPORT_BRIDGE_STATE, {com, state}); }
  // Gives `bytes` of the port's done writes back to its window.
  DWORD Credit(uint32_t com, uint32_t bytes) { return PortRecord(VPORT_BRIDGE_CREDIT, {com, bytes}); }
  DWORD Queues(uint32_t com, uint32_t in, uint32_t out) {
    return PortRecord(VPORT_BRIDGE_QUEUES, {com, in, out});
  }

 private:
  // A record of a COM number and values, 32-bit each, as STATE, CREDIT and QUEUES take it.
  DWORD PortRecord(DWORD code, std::initializer_list<uint32_t> fields) {
    Bytes record;
    for (uint32_t field : fields)
      for (int i = 0; i < 4; ++i) record.push_back(static_cast<uint8_t>(field >> (8 * i)));
    auto done = Control(handle_, code, record, 0);
    return done.ok ? 0 : done.error;
  }
  DWORD Send(uint32_t id, uint32_t status, uint32_t length, const std::string& bytes) {
    Bytes answer(VPORT_ANSWER_HEADER_SIZE + bytes.size());
    VportWriteBridgeAnswer(id, status, length, answer.data(), answer.size());
    std::copy(bytes.begin(), bytes.end(), answer.begin() + VPORT_ANSWER_HEADER_SIZE);
    auto done = Control(handle_, VPORT_BRIDGE_COMPLETE, answer, 0);
    return done.ok ? 0 : done.error;
  }

  HANDLE handle_;
  HANDLE event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped_{};
  Bytes buffer_;
};

// One overlapped read or write of a terminal program.
struct ProgramIo {
  OVERLAPPED overlapped{};
  std::string buffer;
  explicit ProgramIo(std::string bytes) : buffer(std::move(bytes)) {
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~ProgramIo() { CloseHandle(overlapped.hEvent); }
  // Bytes moved, or the platform's error as a negative number.
  long Result(HANDLE port) {
    DWORD moved = 0;
    if (WaitForSingleObject(overlapped.hEvent, kWaitMs) != WAIT_OBJECT_0) return -1;
    if (!GetOverlappedResult(port, &overlapped, &moved, FALSE)) return -static_cast<long>(GetLastError());
    return static_cast<long>(moved);
  }
};

// What a terminal program writes reaches the data service whole, in order and
// in pieces no larger than the service's buffer; its reads wait for the
// service's answer, carry the time-outs it set, and can be cancelled; closing
// the port tells the service. Without a service the program hears so at once.
TEST_F(VirtualPortUnderWine, BridgeCarriesTheProgramsBytesToTheService) {
  uint32_t com = 0;
  HANDLE port = OpenAsProgram(&com);
  ASSERT_NE(com, 0u);

  ProgramIo early("x");
  DWORD refusal = WriteFile(port, early.buffer.data(), 1, nullptr, &early.overlapped) ? 0 : GetLastError();
  if (refusal == ERROR_IO_PENDING) refusal = static_cast<DWORD>(-early.Result(port));
  EXPECT_EQ(refusal, DWORD{ERROR_DEVICE_NOT_CONNECTED}) << "no service carries the bytes";

  ServiceSide service;
  ASSERT_TRUE(service.ok()) << GetLastError();
  auto [told, toldSettings] = service.Next();
  EXPECT_EQ(told.kind, VPORT_BRIDGE_OPEN) << "a service that comes hears first of the port a program holds";
  EXPECT_EQ(told.comNumber, com);
  EXPECT_EQ(toldSettings.size(), size_t{VPORT_BRIDGE_SETTINGS_SIZE});
  service.StartNext();  // waiting before the write comes
  ProgramIo hello("hello");
  WriteFile(port, hello.buffer.data(), 5, nullptr, &hello.overlapped);
  auto [write, bytes] = service.FinishNext();
  EXPECT_EQ(write.kind, VPORT_BRIDGE_WRITE);
  EXPECT_EQ(write.comNumber, com);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
  EXPECT_EQ(service.Accept(write.id, 5), 0u);
  EXPECT_EQ(hello.Result(port), 5);

  // A write the service takes in part ends with that part; one it refuses
  // ends with its reason.
  ProgramIo partly("abcdef");
  WriteFile(port, partly.buffer.data(), 6, nullptr, &partly.overlapped);
  EXPECT_EQ(service.Accept(service.Next().first.id, 3), 0u);
  EXPECT_EQ(partly.Result(port), 3);
  ProgramIo refused("z");
  WriteFile(port, refused.buffer.data(), 1, nullptr, &refused.overlapped);
  EXPECT_EQ(service.Accept(service.Next().first.id, 0, 0xC000009D), 0u);
  EXPECT_EQ(refused.Result(port), -long{ERROR_DEVICE_NOT_CONNECTED});
  // One whose time-out passed ends with the time-out status, a success, and
  // what was taken, also when that is nothing.
  for (uint32_t taken : {2u, 0u}) {
    ProgramIo timed("abcd");
    WriteFile(port, timed.buffer.data(), 4, nullptr, &timed.overlapped);
    EXPECT_EQ(service.Accept(service.Next().first.id, taken, STATUS_TIMEOUT), 0u);
    ASSERT_EQ(WaitForSingleObject(timed.overlapped.hEvent, kWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(timed.overlapped.Internal, ULONG_PTR{STATUS_TIMEOUT}) << taken;
    EXPECT_EQ(timed.overlapped.InternalHigh, ULONG_PTR{taken});
  }

  std::string big(100000, 0);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  ProgramIo large(big);
  WriteFile(port, large.buffer.data(), static_cast<DWORD>(big.size()), nullptr, &large.overlapped);
  std::string arrived;
  for (int piece = 0; piece < 3 && arrived.size() < big.size(); ++piece) {
    auto [request, data] = service.Next();
    ASSERT_EQ(request.kind, VPORT_BRIDGE_WRITE);
    EXPECT_LE(data.size(), 65536u);
    EXPECT_EQ(request.offset, arrived.size());
    EXPECT_EQ(request.total, big.size());
    arrived.append(data.begin(), data.end());
    ASSERT_EQ(service.Accept(request.id, static_cast<uint32_t>(arrived.size())), 0u);
  }
  EXPECT_TRUE(arrived == big) << arrived.size() << " bytes arrived";
  EXPECT_EQ(large.Result(port), 100000);

  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 7, 500};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();
  ProgramIo read(std::string(10, 0));
  ReadFile(port, read.buffer.data(), 10, nullptr, &read.overlapped);
  auto [asked, none] = service.Next();
  EXPECT_EQ(asked.kind, VPORT_BRIDGE_READ);
  EXPECT_EQ(asked.length, 10u);
  EXPECT_EQ(asked.timeouts[0], MAXDWORD);
  EXPECT_EQ(asked.timeouts[4], 500u);
  EXPECT_EQ(service.Answer(asked.id, "world!"), 0u);
  EXPECT_EQ(read.Result(port), 6);
  EXPECT_EQ(read.buffer.substr(0, 6), "world!");

  ProgramIo cancelled(std::string(4, 0));
  ReadFile(port, cancelled.buffer.data(), 4, nullptr, &cancelled.overlapped);
  auto [handed, nothing] = service.Next();
  ASSERT_EQ(handed.kind, VPORT_BRIDGE_READ);
  EXPECT_TRUE(CancelIo(port)) << GetLastError();
  EXPECT_EQ(cancelled.Result(port), -long{ERROR_OPERATION_ABORTED});
  EXPECT_EQ(service.Answer(handed.id, "late"), DWORD{ERROR_NOT_FOUND})
      << "the service keeps bytes no read took";

  // PurgeComm: a read it aborts ends at once, and the service hears what was purged.
  ProgramIo aborted(std::string(4, 0));
  ReadFile(port, aborted.buffer.data(), 4, nullptr, &aborted.overlapped);
  ASSERT_EQ(service.Next().first.kind, VPORT_BRIDGE_READ);
  EXPECT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR)) << GetLastError();
  EXPECT_EQ(aborted.Result(port), -long{ERROR_OPERATION_ABORTED});
  auto [purge, purgeBytes] = service.Next();
  EXPECT_EQ(purge.kind, VPORT_BRIDGE_PURGE);
  EXPECT_EQ(purge.flags, uint32_t{PURGE_RXABORT | PURGE_RXCLEAR});

  // The manager's settings and Connect reach the service; the link state the
  // service reports shows in the modem lines.
  const Bytes endpoint = Request({198, 51, 100, 10}, {0x0F, 0xA1}, 0, 1, 450);
  ASSERT_TRUE(Control(port, VPORT_IOCTL_SET_REMOTE_INFO, endpoint, 0).ok);
  auto [stored, settings] = service.Next();
  EXPECT_EQ(stored.kind, VPORT_BRIDGE_SETTINGS);
  EXPECT_EQ(stored.flags, 0u);
  EXPECT_EQ(settings, endpoint);
  ASSERT_TRUE(Control(port, VPORT_IOCTL_CONNECTION, {}, 0).ok);
  auto [connect, again] = service.Next();
  EXPECT_EQ(connect.kind, VPORT_BRIDGE_SETTINGS);
  EXPECT_EQ(connect.flags, VPORT_BRIDGE_FLAG_CONNECT);
  DWORD lines = 1;
  EXPECT_EQ(service.Report(com, VPORT_LINK_LOST), 0u);
  ASSERT_TRUE(GetCommModemStatus(port, &lines));
  EXPECT_EQ(lines, 0u) << "the service's report counts, not the manager's flag";
  EXPECT_EQ(service.Report(com, VPORT_LINK_CONNECTED), 0u);
  ASSERT_TRUE(GetCommModemStatus(port, &lines));
  EXPECT_EQ(lines, DWORD{MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON});
  EXPECT_EQ(service.Report(250, VPORT_LINK_CONNECTED), DWORD{ERROR_NOT_FOUND});
  // The bytes the service holds each way are the program's comm status.
  EXPECT_EQ(service.Queues(com, 300, 12), 0u);
  COMSTAT held{};
  DWORD errors = 1;
  ASSERT_TRUE(ClearCommError(port, &errors, &held)) << GetLastError();
  EXPECT_EQ(held.cbInQue, 300u);
  EXPECT_EQ(held.cbOutQue, 12u);

  // Connected, a write that fits in the port's window is done at once and the
  // service gets its bytes marked so. One beyond the window waits for the
  // service, and so does every write after it, in order.
  ProgramIo quick("quick");
  WriteFile(port, quick.buffer.data(), 5, nullptr, &quick.overlapped);
  EXPECT_EQ(quick.Result(port), 5) << "done before the service asked for it";
  auto [kept, keptBytes] = service.Next();
  EXPECT_EQ(kept.flags, VPORT_BRIDGE_FLAG_DONE);
  EXPECT_EQ(std::string(keptBytes.begin(), keptBytes.end()), "quick");
  ProgramIo beyond(std::string(32 * 1024, 'w'));
  WriteFile(port, beyond.buffer.data(), 32 * 1024, nullptr, &beyond.overlapped);
  ProgramIo behind("behind");
  WriteFile(port, behind.buffer.data(), 6, nullptr, &behind.overlapped);
  auto [waiting, waitingBytes] = service.Next();
  EXPECT_EQ(waiting.flags, 0u);
  EXPECT_EQ(waitingBytes.size(), 32u * 1024);
  EXPECT_EQ(service.Credit(com, 5), 0u) << "the window opens again";
  EXPECT_EQ(service.Accept(waiting.id, 32 * 1024), 0u);
  EXPECT_EQ(beyond.Result(port), 32 * 1024);
  auto [last, lastBytes] = service.Next();
  EXPECT_EQ(last.flags, 0u) << "a write issued while another waited waits too";
  EXPECT_EQ(std::string(lastBytes.begin(), lastBytes.end()), "behind");
  EXPECT_EQ(service.Accept(last.id, 6), 0u);
  EXPECT_EQ(behind.Result(port), 6);

  ASSERT_TRUE(Control(port, VPORT_IOCTL_DISCONNECTION, {}, 0).ok);
  EXPECT_EQ(service.Next().first.flags, 0u);

  // What a program wrote just before it closed the port reaches the service before the close.
  ProgramIo bye("bye");
  WriteFile(port, bye.buffer.data(), 3, nullptr, &bye.overlapped);
  EXPECT_EQ(bye.Result(port), 3);
  CloseHandle(port);
  handles_.clear();
  auto [parting, partingBytes] = service.Next();
  EXPECT_EQ(parting.flags, VPORT_BRIDGE_FLAG_DONE);
  EXPECT_EQ(std::string(partingBytes.begin(), partingBytes.end()), "bye");
  auto [closed, empty] = service.Next();
  EXPECT_EQ(closed.kind, VPORT_BRIDGE_CLOSE);
  EXPECT_EQ(closed.comNumber, com);

  // An opening for the manager's own requests is not the service's business;
  // a program's opening is, from its first serial request.
  HANDLE manager = OpenPort(path_);
  ASSERT_NE(manager, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Control(manager, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE).ok);
  CloseHandle(manager);
  HANDLE program = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(program, INVALID_HANDLE_VALUE) << GetLastError();
  handles_.push_back(program);
  DCB line{};
  line.DCBlength = sizeof line;
  ASSERT_TRUE(GetCommState(program, &line)) << GetLastError();
  EXPECT_EQ(service.Next().first.kind, VPORT_BRIDGE_OPEN);
  ProgramIo first("first");
  WriteFile(program, first.buffer.data(), 5, nullptr, &first.overlapped);
  auto [written, writtenBytes] = service.Next();
  EXPECT_EQ(written.kind, VPORT_BRIDGE_WRITE) << "no close of the manager's opening came in between";
  EXPECT_EQ(service.Accept(written.id, 5), 0u);
  EXPECT_EQ(first.Result(program), 5);
}

// A write in two pieces ends as the answer to its last piece says: the
// answer counts what the service took of the whole write; an error with
// nothing taken refuses it whole, an error after a part was taken is a short
// write of that part, a time-out keeps its status and count.
TEST_F(VirtualPortUnderWine, AWriteInPiecesEndsAsItsLastAnswerSays) {
  struct Case {
    const char* name;
    uint32_t firstStatus, firstTaken;  // the answer to the first piece
    uint32_t lastStatus, lastTaken;    // to the second, when it is handed
    ULONG_PTR status, written;         // how the write ends (status 0: a success)
  } const cases[] = {
      {"taken whole", 0, 65536, 0, 100000, 0, 100000},
      {"second piece refused: refused whole", 0, 65536, 0xC000009D, 0, 0xC000009D, 0},
      {"refused after 70000 were taken", 0, 65536, 0xC000009D, 70000, 0, 70000},
      {"timed out with 80000 taken", 0, 65536, STATUS_TIMEOUT, 80000, STATUS_TIMEOUT, 80000},
      {"first piece refused", 0xC000009D, 0, 0, 0, 0xC000009D, 0},
  };
  uint32_t com = 0;
  HANDLE port = OpenAsProgram(&com);
  ASSERT_NE(com, 0u);
  ServiceSide service;
  ASSERT_TRUE(service.ok()) << GetLastError();
  DCB line{};
  line.DCBlength = sizeof line;
  ASSERT_TRUE(GetCommState(port, &line)) << GetLastError();
  ASSERT_EQ(service.Next().first.kind, VPORT_BRIDGE_OPEN);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramIo write(std::string(100000, 'p'));
    WriteFile(port, write.buffer.data(), 100000, nullptr, &write.overlapped);
    auto first = service.Next().first;
    ASSERT_EQ(first.kind, VPORT_BRIDGE_WRITE);
    ASSERT_EQ(service.Accept(first.id, c.firstTaken, c.firstStatus), 0u);
    if (c.firstStatus == 0) {
      auto last = service.Next().first;
      ASSERT_EQ(last.offset, 65536u);
      ASSERT_EQ(service.Accept(last.id, c.lastTaken, c.lastStatus), 0u);
    }
    ASSERT_EQ(WaitForSingleObject(write.overlapped.hEvent, kWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(write.overlapped.Internal, c.status);
    EXPECT_EQ(write.overlapped.InternalHigh, c.written);
  }
}

// The service goes with requests out: a write piece it was handed and never
// answered ends the write neither done nor refused (ERROR_IO_DEVICE, with
// what was answered), a write not handed is refused, and a read waits and is
// handed to the next service, after it heard of the port.
TEST_F(VirtualPortUnderWine, RequestsOutWhenTheServiceGoesEndAsTheReadmeSays) {
  uint32_t com = 0;
  HANDLE port = OpenAsProgram(&com);
  ASSERT_NE(com, 0u);
  auto first = std::make_unique<ServiceSide>();
  ASSERT_TRUE(first->ok()) << GetLastError();
  DCB line{};
  line.DCBlength = sizeof line;
  ASSERT_TRUE(GetCommState(port, &line)) << GetLastError();
  ASSERT_EQ(first->Next().first.kind, VPORT_BRIDGE_OPEN);
  ProgramIo write(std::string(100000, 'w'));
  WriteFile(port, write.buffer.data(), 100000, nullptr, &write.overlapped);
  ASSERT_EQ(first->Accept(first->Next().first.id, 65536), 0u);
  ASSERT_EQ(first->Next().first.offset, 65536u);  // the last piece, never answered
  ProgramIo read(std::string(8, 0));
  ReadFile(port, read.buffer.data(), 8, nullptr, &read.overlapped);
  const VportBridgeRequest handed = first->Next().first;
  ASSERT_EQ(handed.kind, VPORT_BRIDGE_READ);
  ProgramIo later("later");
  WriteFile(port, later.buffer.data(), 5, nullptr, &later.overlapped);
  first.reset();

  EXPECT_EQ(write.Result(port), -long{ERROR_IO_DEVICE});
  EXPECT_EQ(write.overlapped.InternalHigh, ULONG_PTR{65536});
  EXPECT_EQ(later.Result(port), -long{ERROR_DEVICE_NOT_CONNECTED});
  EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 0), DWORD{WAIT_TIMEOUT});
  ServiceSide next;
  ASSERT_TRUE(next.ok()) << GetLastError();
  auto [told, settings] = next.Next();
  EXPECT_EQ(told.kind, VPORT_BRIDGE_OPEN);
  EXPECT_EQ(told.comNumber, com);
  const VportBridgeRequest again = next.Next().first;
  EXPECT_EQ(again.kind, VPORT_BRIDGE_READ);
  EXPECT_EQ(again.id, handed.id);
  EXPECT_EQ(next.Answer(again.id, "back"), 0u);
  EXPECT_EQ(read.Result(port), 4);
  EXPECT_EQ(read.buffer.substr(0, 4), "back");
}

// A program that sets masks and purges faster than the service takes them
// loses none of the port's open and close notices: they come in order, and
// what waits for the service stays bounded.
TEST_F(VirtualPortUnderWine, MasksAndPurgesNeverCrowdOutOpenAndClose) {
  ServiceSide service;
  ASSERT_TRUE(service.ok()) << GetLastError();
  uint32_t com = 0;
  HANDLE port = OpenAsProgram(&com);
  ASSERT_NE(com, 0u);
  DCB line{};
  line.DCBlength = sizeof line;
  ASSERT_TRUE(GetCommState(port, &line)) << GetLastError();
  EXPECT_EQ(service.Next().first.kind, VPORT_BRIDGE_OPEN);
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(SetCommMask(port, i % 2 ? EV_RXCHAR : EV_TXEMPTY)) << GetLastError();
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR)) << GetLastError();
  }
  CloseHandle(port);
  handles_.clear();
  HANDLE again = OpenAsProgram(&com);
  ASSERT_TRUE(GetCommState(again, &line)) << GetLastError();
  std::vector<uint32_t> kinds;
  for (uint32_t kind = 1; kind != 0 && kind != VPORT_BRIDGE_OPEN;) {
    kind = service.Next().first.kind;
    kinds.push_back(kind);
  }
  ASSERT_GE(kinds.size(), 2u);
  EXPECT_EQ(kinds[kinds.size() - 2], VPORT_BRIDGE_CLOSE);
  EXPECT_EQ(kinds.back(), uint32_t{VPORT_BRIDGE_OPEN});
  EXPECT_LE(kinds.size(), 18u) << "at most 16 mask and purge notices of a port wait for the service";
}

// Anyone who opens the bridge may ask a port's link state, also while a
// program holds the port. Asking (or reporting) does not make a handle a
// service: with no NEXT ever sent, the program's bytes are refused at once.
TEST_F(VirtualPortUnderWine, AnswersALinkStateToAnyoneAndOnlyNextMakesAService) {
  uint32_t com = 0;
  HANDLE port = OpenAsProgram(&com);
  ASSERT_NE(com, 0u);

  HANDLE asker = CreateFileA(VPORT_BRIDGE_DOS_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(asker, INVALID_HANDLE_VALUE) << GetLastError();
  handles_.push_back(asker);
  // A handle opened for reading asks states; it can never take the ports' requests.
  ProgramIo taking(std::string(VPORT_BRIDGE_HEADER_SIZE + 64, 0));
  BOOL took = DeviceIoControl(asker, VPORT_BRIDGE_NEXT, nullptr, 0, taking.buffer.data(),
                              static_cast<DWORD>(taking.buffer.size()), nullptr, &taking.overlapped);
  const DWORD takeError = took ? 0 : GetLastError();
  if (takeError == ERROR_IO_PENDING) CancelIo(asker);
  EXPECT_EQ(takeError, DWORD{ERROR_ACCESS_DENIED}) << "NEXT on a handle without write access";
  const auto ask = [&](uint32_t number) {
    Bytes in(VPORT_BRIDGE_QUERY_SIZE);
    for (int i = 0; i < 4; ++i) in[i] = static_cast<uint8_t>(number >> (8 * i));
    return Control(asker, VPORT_BRIDGE_QUERY, in, VPORT_BRIDGE_QUERY_SIZE);
  };
  ServiceSide reporter;  // reports link states, never asks for the ports' requests
  ASSERT_TRUE(reporter.ok()) << GetLastError();
  for (uint32_t state : {VPORT_LINK_LOST, VPORT_LINK_CONNECTING, VPORT_LINK_CONNECTED, VPORT_LINK_IDLE}) {
    ASSERT_EQ(reporter.Report(com, state), 0u);
    auto answer = ask(com);
    ASSERT_TRUE(answer.ok) << answer.error;
    ASSERT_EQ(answer.output.size(), size_t{VPORT_BRIDGE_QUERY_SIZE});
    EXPECT_EQ(VportReadLe32(answer.output.data()), state);
  }
  auto unknown = ask(250);
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, DWORD{ERROR_NOT_FOUND});

  ProgramIo write("x");
  DWORD refusal = WriteFile(port, write.buffer.data(), 1, nullptr, &write.overlapped) ? 0 : GetLastError();
  if (refusal == ERROR_IO_PENDING) refusal = static_cast<DWORD>(-write.Result(port));
  EXPECT_EQ(refusal, DWORD{ERROR_DEVICE_NOT_CONNECTED}) << "a handle that only asks is no service";

  {
    ServiceSide service;
    service.StartNext();
    ASSERT_EQ(service.Report(com, VPORT_LINK_CONNECTED), 0u);
  }
  uint32_t after = VPORT_LINK_CONNECTED;
  for (DWORD waited = 0; waited < kWaitMs && after != VPORT_LINK_IDLE; waited += 50) {
    Sleep(50);  // the driver hears of the close after CloseHandle returned
    auto answer = ask(com);
    if (answer.ok) after = VportReadLe32(answer.output.data());
  }
  EXPECT_EQ(after, VPORT_LINK_IDLE) << "the last service took the ports' links with it";
}

// A TCP echo server on 127.0.0.1, on its own thread. It closes its first
// connection, and stops listening, once it echoed `closeAfter` bytes; after
// Relisten it takes one more connection on the same port. Each wait is
// bounded, so a client that never comes or goes silent ends it.
class EchoServer {
 public:
  explicit EchoServer(size_t closeAfter) : closeAfter_(closeAfter) {
    WSADATA wsa;
    started_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    if (started_ && Listen()) thread_ = std::thread([this] { Serve(); });
  }
  ~EchoServer() {
    quitting_ = true;
    SetEvent(relisten_);
    if (thread_.joinable()) thread_.join();
    CloseHandle(relisten_);
    if (started_) WSACleanup();
  }
  uint16_t port() const { return port_; }
  void Relisten() { SetEvent(relisten_); }

 private:
  bool Listen() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(port_);
    int size = sizeof at;
    bool ok = bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              listen(listener_, 1) == 0 &&
              getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) == 0;
    port_ = ntohs(at.sin_port);
    return ok;
  }
  static bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit{static_cast<long>(kWaitMs / 1000), 0};
    return select(0, &set, nullptr, nullptr, &limit) == 1;
  }
  // Takes one connection, echoes up to `limit` bytes on it, closes it and the listener.
  void EchoOne(size_t limit) {
    SOCKET client = Readable(listener_) ? accept(listener_, nullptr, nullptr) : INVALID_SOCKET;
    closesocket(listener_);
    char buffer[16384];
    for (size_t echoed = 0; client != INVALID_SOCKET && echoed < limit && Readable(client);) {
      int got = recv(client, buffer, static_cast<int>(std::min(sizeof buffer, limit - echoed)), 0);
      for (int at = 0, sent = 0; got > 0 && at < got; at += sent)
        sent = send(client, buffer + at, got - at, 0);
      if (got <= 0) break;
      echoed += static_cast<size_t>(got);
    }
    if (client != INVALID_SOCKET) closesocket(client);
  }
  void Serve() {
    EchoOne(closeAfter_);
    if (WaitForSingleObject(relisten_, kWaitMs) == WAIT_OBJECT_0 && !quitting_ && Listen()) EchoOne(SIZE_MAX);
  }

  const size_t closeAfter_;
  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  HANDLE relisten_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> quitting_{false};
  std::thread thread_;
};

// Whether the port's carrier line came to `on` within the wait.
bool WaitForCarrier(HANDLE port, bool on) {
  DWORD lines = 0;
  for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
    if (GetCommModemStatus(port, &lines) && ((lines & MS_RLSD_ON) != 0) == on) return true;
    Sleep(50);
  }
  return false;
}

// Reads until `size` bytes came or a read came back empty (its time-out passed).
std::string ReadBack(HANDLE port, size_t size) {
  std::string received;
  for (long got = 1; got > 0 && received.size() < size;) {
    ProgramIo read(std::string(65536, 0));
    ReadFile(port, read.buffer.data(), 65536, nullptr, &read.overlapped);
    got = read.Result(port);
    if (got > 0) received.append(read.buffer, 0, static_cast<size_t>(got));
  }
  return received;
}

// The data service, started and stopped through named events.
class DataService {
 public:
  DataService() {
    static int started = 0;
    const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++started);
    const std::string readyName = "vportd-ready-" + tag, stopName = "vportd-stop-" + tag;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    stop_ = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
    std::string command =
        std::string("\"") + kDataService + "\" --ready-event " + readyName + " --stop-event " + stopName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process_))
      CloseHandle(process_.hThread);
  }
  ~DataService() {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) Stop();
      TerminateProcess(process_.hProcess, 1);
      CloseHandle(process_.hProcess);
    }
    CloseHandle(ready_);
    CloseHandle(stop_);
  }
  bool WaitReady() {
    HANDLE either[2] = {ready_, process_.hProcess};
    return process_.hProcess != nullptr && WaitForMultipleObjects(2, either, FALSE, kWaitMs) == WAIT_OBJECT_0;
  }
  // Its exit status, or -1 if it did not end in time.
  int Stop() {
    SetEvent(stop_);
    DWORD status = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process_.hProcess, kWaitMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.hProcess, &status);
    return static_cast<int>(status);
  }

 private:
  HANDLE ready_, stop_;
  PROCESS_INFORMATION process_{};
};

// A terminal program's bytes go through the data service to a TCP host and
// come back from it: 256 KiB written at once, more than the service queues,
// read back byte for byte with read time-outs set. When the host goes away,
// the port shows it and connects again once the host is back.
TEST_F(VirtualPortUnderWine, DataServiceCarriesBytesToTheRemoteHostAndBack) {
  const size_t size = 256 * 1024;
  EchoServer echo(size);
  ASSERT_NE(echo.port(), 0) << WSAGetLastError();
  const Bytes endpoint =
      Request({127, 0, 0, 1}, {static_cast<uint8_t>(echo.port() >> 8), static_cast<uint8_t>(echo.port())}, 0,
              1, 1024);
  ASSERT_TRUE(Control(Open(), VPORT_IOCTL_SET_REMOTE_INFO, endpoint, 0).ok);
  CloseHandle(handles_.back());
  handles_.clear();
  DataService service;
  ASSERT_TRUE(service.WaitReady()) << "the data service did not start";

  HANDLE port = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  handles_.push_back(port);
  ASSERT_TRUE(WaitForCarrier(port, true)) << "never connected";
  // Return as soon as bytes are there, or empty after 10 s of nothing.
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();
  ASSERT_TRUE(SetCommMask(port, EV_RLSD)) << GetLastError();

  std::string sent(size, 0);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 13 + i / 509);
  ProgramIo write(sent);
  WriteFile(port, write.buffer.data(), static_cast<DWORD>(sent.size()), nullptr, &write.overlapped);
  const std::string received = ReadBack(port, size);
  EXPECT_EQ(write.Result(port), static_cast<long>(sent.size()));
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent) << "the bytes came back changed or reordered";

  // The host closes: a wait on the carrier ends (or ended while none was out),
  // and the lines then read agree.
  DWORD lineEvents = 0, lines = MS_RLSD_ON;
  OVERLAPPED lineWait{};
  lineWait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!WaitCommEvent(port, &lineEvents, &lineWait)) {
    EXPECT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
    EXPECT_EQ(WaitForSingleObject(lineWait.hEvent, kWaitMs), WAIT_OBJECT_0);
  }
  CloseHandle(lineWait.hEvent);
  EXPECT_EQ(lineEvents, DWORD{EV_RLSD});
  ASSERT_TRUE(GetCommModemStatus(port, &lines));
  EXPECT_EQ(lines & MS_RLSD_ON, 0u);
  ASSERT_TRUE(WaitForCarrier(port, false)) << "the host closed, the port still shows connected";
  echo.Relisten();
  ASSERT_TRUE(WaitForCarrier(port, true)) << "never connected again";
  ProgramIo again("again");
  WriteFile(port, again.buffer.data(), 5, nullptr, &again.overlapped);
  EXPECT_EQ(again.Result(port), 5);
  EXPECT_EQ(ReadBack(port, 5), "again");

  // Each form of read time-out ends a read with what came when it should: never
  // before its time, always within the bounded wait. The echo is the far end.
  struct Form {
    const char* name;
    COMMTIMEOUTS timeouts;
    std::string sent;
    DWORD wanted;
    std::string got;
    DWORD notBeforeMs;
  } const forms[] = {
      {"return at once with nothing there", {MAXDWORD, 0, 0, 0, 0}, "", 10, "", 0},
      {"wait for the first byte, none comes", {MAXDWORD, MAXDWORD, 300, 0, 0}, "", 10, "", 300},
      {"total time-out with part of it come", {0, 0, 300, 0, 0}, "abc", 10, "abc", 300},
      {"interval after the last byte", {150, 0, 0, 0, 0}, "def", 10, "def", 150},
      {"no time-out: all it asked for", {0, 0, 0, 0, 0}, "ghij", 4, "ghij", 0},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    COMMTIMEOUTS set = form.timeouts;
    ASSERT_TRUE(SetCommTimeouts(port, &set)) << GetLastError();
    const ULONGLONG start = GetTickCount64();
    if (!form.sent.empty()) {
      ProgramIo out(form.sent);
      WriteFile(port, out.buffer.data(), static_cast<DWORD>(form.sent.size()), nullptr, &out.overlapped);
      ASSERT_EQ(out.Result(port), static_cast<long>(form.sent.size()));
    }
    ProgramIo in(std::string(form.wanted, 0));
    ReadFile(port, in.buffer.data(), form.wanted, nullptr, &in.overlapped);
    const long got = in.Result(port);
    // The tick count moves in steps of up to ~16 ms on the platform.
    EXPECT_GE(GetTickCount64() - start + 20, ULONGLONG{form.notBeforeMs});
    ASSERT_EQ(got, static_cast<long>(form.got.size()));
    EXPECT_EQ(in.buffer.substr(0, form.got.size()), form.got);
  }
  timeouts = COMMTIMEOUTS{MAXDWORD, MAXDWORD, 10000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();

  // A terminal program's wait for a byte ends when the echo comes; a new mask
  // ends a wait with no event.
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR)) << GetLastError();
  DWORD events = 0, moved = 0;
  OVERLAPPED waited{};
  waited.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(WaitCommEvent(port, &events, &waited)) << "no byte waits to be read";
  EXPECT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
  ProgramIo ping("!");
  WriteFile(port, ping.buffer.data(), 1, nullptr, &ping.overlapped);
  EXPECT_EQ(ping.Result(port), 1);
  ASSERT_EQ(WaitForSingleObject(waited.hEvent, kWaitMs), WAIT_OBJECT_0);
  EXPECT_TRUE(GetOverlappedResult(port, &waited, &moved, FALSE));
  EXPECT_EQ(events, DWORD{EV_RXCHAR});
  EXPECT_EQ(ReadBack(port, 1), "!");
  ResetEvent(waited.hEvent);
  events = 1;
  EXPECT_FALSE(WaitCommEvent(port, &events, &waited));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
  ASSERT_EQ(WaitForSingleObject(waited.hEvent, kWaitMs), WAIT_OBJECT_0);
  EXPECT_TRUE(GetOverlappedResult(port, &waited, &moved, FALSE));
  EXPECT_EQ(events, 0u);
  CloseHandle(waited.hEvent);

  CloseHandle(port);
  handles_.clear();
  EXPECT_EQ(service.Stop(), 0);
}

// The suite's port stored with the echo host as its endpoint (connect at
// start), then opened overlapped as a terminal program once `service` serves,
// with reads that return as bytes come; INVALID_HANDLE_VALUE when the port
// never connected.
HANDLE OpenConnectedToEcho(const std::string& path, uint16_t echoPort, bool connectAtStart,
                           uint32_t* com = nullptr) {
  const Bytes endpoint =
      Request({127, 0, 0, 1}, {static_cast<uint8_t>(echoPort >> 8), static_cast<uint8_t>(echoPort)}, 0,
              connectAtStart ? 1 : 0, 1024);
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  auto name = Control(port, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  if (com != nullptr && name.ok)
    *com = static_cast<uint32_t>(atoi(reinterpret_cast<const char*>(name.output.data()) + 3));
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10000, 0, 0};
  if (!Control(port, VPORT_IOCTL_SET_REMOTE_INFO, endpoint, 0).ok ||
      (!connectAtStart && !Control(port, VPORT_IOCTL_CONNECTION, {}, 0).ok) ||
      !SetCommTimeouts(port, &timeouts) || !WaitForCarrier(port, true)) {
    CloseHandle(port);
    return INVALID_HANDLE_VALUE;
  }
  return port;
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, 0);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * seed + i / 509);
  return bytes;
}

// Two overlapped writes pending together, the first cut into pieces: the
// echo brings every byte back in the order written. Reads pending together
// take what comes in their order too.
TEST_F(VirtualPortUnderWine, OverlappedWritesPendingTogetherKeepTheirOrder) {
  const std::pair<size_t, size_t> cases[] = {{100000, 10}, {200000, 5000}};
  EchoServer echo(100010 + 205000 + 10);
  ASSERT_NE(echo.port(), 0) << WSAGetLastError();
  DataService service;
  ASSERT_TRUE(service.WaitReady()) << "the data service did not start";
  HANDLE port = OpenConnectedToEcho(path_, echo.port(), false);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << "never connected";
  handles_.push_back(port);
  for (const auto& [firstSize, secondSize] : cases) {
    SCOPED_TRACE(std::to_string(firstSize) + " then " + std::to_string(secondSize));
    ProgramIo first(Pattern(firstSize, 13)), second(Pattern(secondSize, 7));
    EXPECT_FALSE(
        WriteFile(port, first.buffer.data(), static_cast<DWORD>(firstSize), nullptr, &first.overlapped));
    EXPECT_FALSE(
        WriteFile(port, second.buffer.data(), static_cast<DWORD>(secondSize), nullptr, &second.overlapped));
    const std::string received = ReadBack(port, firstSize + secondSize);
    EXPECT_EQ(first.Result(port), static_cast<long>(firstSize));
    EXPECT_EQ(second.Result(port), static_cast<long>(secondSize));
    ASSERT_EQ(received.size(), firstSize + secondSize);
    EXPECT_TRUE(received == first.buffer + second.buffer)
        << "first difference at "
        << std::mismatch(received.begin(), received.end(), (first.buffer + second.buffer).begin()).first -
               received.begin();
  }
  ProgramIo earlier(std::string(5, 0)), later(std::string(5, 0)), sent("abcdefghij");
  EXPECT_FALSE(ReadFile(port, earlier.buffer.data(), 5, nullptr, &earlier.overlapped));
  EXPECT_FALSE(ReadFile(port, later.buffer.data(), 5, nullptr, &later.overlapped));
  WriteFile(port, sent.buffer.data(), 10, nullptr, &sent.overlapped);
  EXPECT_EQ(sent.Result(port), 10);
  const long got = earlier.Result(port), gotLater = later.Result(port);
  ASSERT_GT(got, 0);
  ASSERT_GE(gotLater, 0);
  const std::string inOrder = earlier.buffer.substr(0, static_cast<size_t>(got)) +
                              later.buffer.substr(0, static_cast<size_t>(gotLater));
  EXPECT_EQ(inOrder + ReadBack(port, 10 - inOrder.size()), "abcdefghij");
}

// The link state the bridge answers anyone for port `com`; UINT32_MAX when it cannot be asked.
uint32_t QueriedLinkState(uint32_t com) {
  HANDLE asker = CreateFileA(VPORT_BRIDGE_DOS_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (asker == INVALID_HANDLE_VALUE) return UINT32_MAX;
  Bytes in(VPORT_BRIDGE_QUERY_SIZE);
  for (int i = 0; i < 4; ++i) in[i] = static_cast<uint8_t>(com >> (8 * i));
  auto answer = Control(asker, VPORT_BRIDGE_QUERY, in, VPORT_BRIDGE_QUERY_SIZE);
  CloseHandle(asker);
  return answer.ok && answer.output.size() == 4 ? VportReadLe32(answer.output.data()) : UINT32_MAX;
}

// vportd stops and a new one starts (as the service manager restarts it)
// while a program holds the port with the manager's Connect on: the new one
// is told of the port and connects it, the program's bytes flow again without
// reopening, and a read that was waiting across the restart gets them. While
// none runs, a write is refused whole.
TEST_F(VirtualPortUnderWine, PortCarriesBytesAgainAfterTheDataServiceRestarts) {
  EchoServer echo(1 << 20);
  ASSERT_NE(echo.port(), 0) << WSAGetLastError();
  uint32_t com = 0;
  auto first = std::make_unique<DataService>();
  ASSERT_TRUE(first->WaitReady()) << "the data service did not start";
  HANDLE port = OpenConnectedToEcho(path_, echo.port(), false, &com);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << "never connected";
  handles_.push_back(port);
  ProgramIo before("before");
  WriteFile(port, before.buffer.data(), 6, nullptr, &before.overlapped);
  EXPECT_EQ(before.Result(port), 6);
  EXPECT_EQ(ReadBack(port, 6), "before");

  ProgramIo waiting(std::string(64, 0));
  EXPECT_FALSE(ReadFile(port, waiting.buffer.data(), 64, nullptr, &waiting.overlapped));
  EXPECT_EQ(first->Stop(), 0);
  first.reset();
  ProgramIo meanwhile("lost");
  DWORD refusal =
      WriteFile(port, meanwhile.buffer.data(), 4, nullptr, &meanwhile.overlapped) ? 0 : GetLastError();
  if (refusal == ERROR_IO_PENDING) refusal = static_cast<DWORD>(-meanwhile.Result(port));
  EXPECT_EQ(refusal, DWORD{ERROR_DEVICE_NOT_CONNECTED});
  EXPECT_EQ(WaitForSingleObject(waiting.overlapped.hEvent, 0), DWORD{WAIT_TIMEOUT})
      << "the read waits for the next service";

  echo.Relisten();
  DataService second;
  ASSERT_TRUE(second.WaitReady()) << "the data service did not start again";
  ASSERT_TRUE(WaitForCarrier(port, true)) << "the port never connected again";
  EXPECT_EQ(QueriedLinkState(com), VPORT_LINK_CONNECTED);
  ProgramIo after("after");
  WriteFile(port, after.buffer.data(), 5, nullptr, &after.overlapped);
  EXPECT_EQ(after.Result(port), 5);
  const long got = waiting.Result(port);
  ASSERT_GT(got, 0);
  EXPECT_EQ(waiting.buffer.substr(0, static_cast<size_t>(got)) + ReadBack(port, 5 - static_cast<size_t>(got)),
            "after");
}

// While the link is down, a write that does not fit beside what is held is
// refused whole: the program hears so, and after the reconnect the host gets
// what was held and not one byte of the refused write.
TEST_F(VirtualPortUnderWine, AWriteThatDoesNotFitTheHoldIsRefusedWhole) {
  EchoServer echo(5);  // echoes "hello", then goes away until Relisten
  ASSERT_NE(echo.port(), 0) << WSAGetLastError();
  DataService service;
  ASSERT_TRUE(service.WaitReady()) << "the data service did not start";
  HANDLE port = OpenConnectedToEcho(path_, echo.port(), false);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << "never connected";
  handles_.push_back(port);
  ProgramIo hello("hello");
  WriteFile(port, hello.buffer.data(), 5, nullptr, &hello.overlapped);
  EXPECT_EQ(hello.Result(port), 5);
  EXPECT_EQ(ReadBack(port, 5), "hello");
  ASSERT_TRUE(WaitForCarrier(port, false)) << "the host went, the port still shows connected";

  ProgramIo held(Pattern(16 * 1024, 11));
  WriteFile(port, held.buffer.data(), 16 * 1024, nullptr, &held.overlapped);
  EXPECT_EQ(held.Result(port), 16 * 1024);
  ProgramIo tooMuch(Pattern(128 * 1024, 3));
  WriteFile(port, tooMuch.buffer.data(), 128 * 1024, nullptr, &tooMuch.overlapped);
  EXPECT_EQ(tooMuch.Result(port), -long{ERROR_DEVICE_NOT_CONNECTED});

  echo.Relisten();
  ASSERT_TRUE(WaitForCarrier(port, true)) << "never connected again";
  ProgramIo marker("end");
  WriteFile(port, marker.buffer.data(), 3, nullptr, &marker.overlapped);
  EXPECT_EQ(marker.Result(port), 3);
  const std::string received = ReadBack(port, 16 * 1024 + 3);
  EXPECT_EQ(received.size(), 16u * 1024 + 3);
  EXPECT_TRUE(received == held.buffer + "end") << "bytes of the refused write went out";
}

// A UDP host on 127.0.0.1 that answers one datagram with an empty datagram
// and then the datagram itself, on its own thread, each wait bounded.
class UdpHost {
 public:
  UdpHost() {
    WSADATA wsa;
    started_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &size) == 0)
      port_ = ntohs(at.sin_port);
    if (port_ != 0) thread_ = std::thread([this] { Answer(); });
  }
  ~UdpHost() {
    if (thread_.joinable()) thread_.join();
    closesocket(socket_);
    if (started_) WSACleanup();
  }
  uint16_t port() const { return port_; }

 private:
  void Answer() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_, &set);
    timeval limit{static_cast<long>(kWaitMs / 1000), 0};
    if (select(0, &set, nullptr, nullptr, &limit) != 1) return;
    char buffer[2048];
    sockaddr_in from{};
    int fromSize = sizeof from;
    const int got =
        recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (got <= 0) return;
    sendto(socket_, buffer, 0, 0, reinterpret_cast<sockaddr*>(&from), fromSize);
    sendto(socket_, buffer, got, 0, reinterpret_cast<sockaddr*>(&from), fromSize);
  }

  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
};

// Over UDP an empty datagram is no closed connection: the port stays
// connected on the same socket and the datagram after it arrives.
TEST_F(VirtualPortUnderWine, AnEmptyDatagramKeepsTheUdpLink) {
  UdpHost host;
  ASSERT_NE(host.port(), 0) << WSAGetLastError();
  const Bytes endpoint =
      Request({127, 0, 0, 1}, {static_cast<uint8_t>(host.port() >> 8), static_cast<uint8_t>(host.port())},
              VPORT_TYPE_UDP_CLIENT, 1, 1024);
  ASSERT_TRUE(Control(Open(), VPORT_IOCTL_SET_REMOTE_INFO, endpoint, 0).ok);
  CloseHandle(handles_.back());
  handles_.clear();
  DataService service;
  ASSERT_TRUE(service.WaitReady()) << "the data service did not start";
  HANDLE port = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  handles_.push_back(port);
  ASSERT_TRUE(WaitForCarrier(port, true)) << "never connected";
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();
  ProgramIo ping("ping");
  WriteFile(port, ping.buffer.data(), 4, nullptr, &ping.overlapped);
  EXPECT_EQ(ping.Result(port), 4);
  EXPECT_EQ(ReadBack(port, 4), "ping") << "the datagram after the empty one was lost";
  DWORD lines = 0;
  ASSERT_TRUE(GetCommModemStatus(port, &lines));
  EXPECT_NE(lines & MS_RLSD_ON, 0u) << "the empty datagram dropped the link";
  CloseHandle(port);
  handles_.clear();
  EXPECT_EQ(service.Stop(), 0);
}

// Wine hands out a second handle before the driver can refuse the open; the
// driver then refuses every request on it, so a held port still shows.
TEST_F(VirtualPortUnderWine, ServesOneOpenAtATime) {
  HANDLE first = Open();
  HANDLE second = OpenPort(path_);
  if (second == INVALID_HANDLE_VALUE) {
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  } else {
    auto refused = Control(second, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, DWORD{ERROR_ACCESS_DENIED});
    CloseHandle(second);
  }
  EXPECT_TRUE(Control(first, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE).ok)
      << "closing the refused handle must not release the port";
  CloseHandle(first);
  handles_.clear();
  EXPECT_TRUE(Control(Open(), VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE).ok)
      << "the port is free again once its owner closed it";
}

// The manager's requests through the bridge (VPORT_BRIDGE_MANAGE), naming the
// port by the interface path it enumerated: they set, connect and close a port
// a program holds, with the same statuses and notices as on the port itself;
// a bridge handle without write access is refused.
TEST_F(VirtualPortUnderWine, ManagerChangesConnectsAndClosesAPortAProgramHolds) {
  HANDLE direct = Open();
  ASSERT_TRUE(Control(direct, VPORT_IOCTL_SET_REMOTE_INFO, Request({0, 0, 0, 0}, {0, 0}, 0, 0, 0), 0).ok);
  const auto onPort = Control(direct, VPORT_IOCTL_CONNECTION, {}, 0);
  ASSERT_FALSE(onPort.ok) << "no endpoint stored";
  CloseHandle(direct);
  handles_.clear();

  uint32_t com = 0;
  HANDLE program = OpenAsProgram(&com);
  ASSERT_NE(com, 0u);
  HANDLE manager = CreateFileA(VPORT_BRIDGE_DOS_NAME, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(manager, INVALID_HANDLE_VALUE) << GetLastError();
  handles_.push_back(manager);
  const auto manage = [&](HANDLE bridge, const std::string& path, uint32_t code, const Bytes& input,
                          DWORD outSize) {
    Bytes in(VPORT_MANAGE_HEADER_SIZE + path.size() + input.size());
    VportWriteManageRequest(code, path.data(), path.size(), input.data(), input.size(), in.data(), in.size());
    return Control(bridge, VPORT_BRIDGE_MANAGE, in, outSize);
  };
  const auto connectedFlag = [&] {
    return manage(manager, path_, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE)
        .output.at(VPORT_REPLY_CONNECTED_OFS);
  };

  const auto refused = manage(manager, path_, VPORT_IOCTL_CONNECTION, {}, 0);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.error, onPort.error) << "the same error as on the port";
  const Bytes settings = Request({198, 51, 100, 10}, {0x0F, 0xA1}, 1, 0, 512);
  auto stored = manage(manager, path_, VPORT_IOCTL_SET_REMOTE_INFO, settings, 0);
  ASSERT_TRUE(stored.ok) << stored.error;
  auto info = manage(manager, path_, VPORT_IOCTL_GET_REMOTE_INFO, {}, VPORT_REPLY_SIZE);
  ASSERT_TRUE(info.ok) << info.error;
  EXPECT_EQ(Bytes(info.output.begin(), info.output.begin() + 9),
            Bytes(settings.begin(), settings.begin() + 9));
  auto name = manage(manager, path_, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  ASSERT_TRUE(name.ok) << name.error;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.output.data())), "COM" + std::to_string(com));

  // The data service hears of the manager's Connect and Close as from the port.
  // A service that arrives is first told the ports' state as it is then, so it
  // may hear the Connect twice: as that state and as the manager's notice.
  ServiceSide service;
  ASSERT_TRUE(service.ok()) << GetLastError();
  const auto hear = [&](uint32_t flags) {
    for (int record = 0; record < 3; ++record) {
      auto [request, payload] = record == 0 ? service.FinishNext() : service.Next();
      if (request.kind == 0) break;  // nothing more in time
      const bool aboutPort = request.kind == VPORT_BRIDGE_SETTINGS || request.kind == VPORT_BRIDGE_OPEN;
      if (aboutPort && request.comNumber == com && request.flags == flags) return payload;
    }
    ADD_FAILURE() << "the service never heard the port with flags " << flags;
    return Bytes{};
  };
  service.StartNext();
  auto connect = manage(manager, path_, VPORT_IOCTL_CONNECTION, {}, 0);
  EXPECT_TRUE(connect.ok) << connect.error;
  EXPECT_EQ(hear(VPORT_BRIDGE_FLAG_CONNECT), settings);
  EXPECT_EQ(connectedFlag(), 1);
  std::string upper = path_;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  service.StartNext();
  EXPECT_TRUE(manage(manager, upper, VPORT_IOCTL_DISCONNECTION, {}, 0).ok) << "the path in another case";
  EXPECT_EQ(hear(0), settings);
  EXPECT_EQ(connectedFlag(), 0);

  DCB line{};
  line.DCBlength = sizeof line;
  EXPECT_TRUE(GetCommState(program, &line)) << "the program still holds the port: " << GetLastError();

  EXPECT_EQ(manage(manager, path_ + "x", VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE).error,
            DWORD{ERROR_NOT_FOUND});
  EXPECT_EQ(manage(manager, path_, 0x1B0050 /* a serial request */, {}, 4).error,
            DWORD{ERROR_INVALID_PARAMETER})
      << "only the manager's requests";
  HANDLE asker = CreateFileA(VPORT_BRIDGE_DOS_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(asker, INVALID_HANDLE_VALUE) << GetLastError();
  handles_.push_back(asker);
  const auto denied = manage(asker, path_, VPORT_IOCTL_CONNECTION, {}, 0);
  EXPECT_EQ(denied.error, DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(connectedFlag(), 0);
}

// Last: takes the suite's port away.
TEST_F(VirtualPortUnderWine, RemovalToolRemovesTheInstanceWithItsExitStatus) {
  EXPECT_EQ(RunRemovalTool(""), 2);
  EXPECT_EQ(RunRemovalTool("remove root\\ports\\0000"), 2) << "only @INSTANCE is taken";
  EXPECT_EQ(RunRemovalTool("remove @root\\ports\\9999"), 1);
  EXPECT_TRUE(Present(path_));
  HANDLE port = Open();
  auto reply = Control(port, VPORT_IOCTL_GET_DOS_NAME, {}, VPORT_DOS_NAME_REPLY_SIZE);
  ASSERT_TRUE(reply.ok) << reply.error;
  CloseHandle(port);
  handles_.clear();
  const std::string name(reinterpret_cast<const char*>(reply.output.data()));

  EXPECT_EQ(RunRemovalTool("remove @" + InstanceIdOf(path_)), 0);
  EXPECT_TRUE(WaitUntilGone(path_));
  auto listed = ListedComNames();
  EXPECT_EQ(std::find(listed.begin(), listed.end(), name), listed.end())
      << "still in the serial port map: " << name;
  EXPECT_EQ(RunRemovalTool("remove @" + InstanceIdOf(path_)), 1)
      << "a removed instance cannot be removed again";
}

}  // namespace
}  // namespace vport_test
