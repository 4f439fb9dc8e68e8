// The test side of the kernel stand-in (include/ntddk.h): an I/O manager that
// builds requests the way the real one does (buffers of exactly the sizes
// asked, stack locations, cancel), records each completion, and reports every
// broken kernel rule it sees as a violation. One driver at a time: the driver
// under test keeps its state in globals.
#pragma once

#include <ntddk.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kstub {

using Bytes = std::vector<uint8_t>;
using RequestId = uint64_t;

// What the I/O manager kept of a completed request.
struct Completion {
  uint64_t order = 0;  // completions are numbered as they happen
  NTSTATUS status = 0;
  ULONG_PTR information = 0;
  Bytes output;  // the bytes a caller gets back: min(information, its output buffer)
};

// A request as a caller sends it.
struct Request {
  PDEVICE_OBJECT device = nullptr;
  PFILE_OBJECT file = nullptr;
  UCHAR major = 0;
  UCHAR minor = 0;
  ULONG code = 0;                                 // device controls
  Bytes input;                                    // write's bytes, or a control's input
  ULONG outLength = 0;                            // read's length, or a control's output buffer
  NTSTATUS initialStatus = STATUS_NOT_SUPPORTED;  // what the PnP manager puts in IoStatus
};

// Called for every broken rule; tests report a failure, the fuzzer aborts.
void SetViolationHandler(std::function<void(const std::string&)> handler);
void Violation(const std::string& what);

// Sends `request` down to its device; returns the request's id. The
// dispatch routine's return value is kept (Returned).
RequestId Submit(const Request& request);
NTSTATUS Returned(RequestId id);
// The completion, or nullptr while the request is pending.
const Completion* Result(RequestId id);
bool Pending(RequestId id);
std::vector<RequestId> PendingRequests();
// Cancels a pending request as the I/O manager does; true when a cancel
// routine ran.
bool Cancel(RequestId id);

// Objects the stand-in recorded.
struct World {
  std::map<std::wstring, std::wstring> symbolicLinks;                  // link -> device
  std::map<std::wstring, bool> interfaces;                             // name -> enabled
  std::map<std::wstring, std::wstring> serialComm;                     // device map values
  std::map<PDEVICE_OBJECT, std::map<std::wstring, Bytes>> deviceKeys;  // by PDO
  std::map<PDEVICE_OBJECT, std::vector<ACCESS_MASK>> deviceAccess;  // the masks of each device's access list
  std::map<std::wstring, PDEVICE_OBJECT> namedDevices;
};
World& TheWorld();

// Another thread's turn: called where the running code is about to take a
// spinlock while it holds none, the points where a second processor may run
// any request at once. Not called again while it runs.
void SetPreemption(std::function<void()> preempt);

// Counts the teardown checks: pool blocks, open handles, devices, held locks.
size_t PoolBlocks();
size_t OpenHandles();
size_t LiveDevices();
// Forgets everything (between drivers); reports what the last one left.
void Reset();

}  // namespace kstub
