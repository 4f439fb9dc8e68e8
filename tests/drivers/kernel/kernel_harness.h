// Loads the port driver (its real sources, built against the kernel stand-in)
// and plays both of its callers: a terminal program on a port (open, read,
// write, control requests, close) and the data service on the bridge (NEXT,
// answers, link states, credits).
#pragma once

#include "bridge_records.h"
#include "kernel_stubs.h"

#include <vector>

namespace kstub {

// A NEXT as the driver filled it: the header and the bytes after it.
struct Handed {
  VportBridgeRequest header{};
  Bytes payload;
};
// False when the completion holds no valid record.
bool ParseHanded(const Completion& done, Handed* out);

class Driver {
 public:
  struct Port {
    PDEVICE_OBJECT fdo = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    ULONG com = 0;  // from the DOS name the port made; 0 without one
  };

  Driver();   // DriverEntry
  ~Driver();  // Unload()
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  PDEVICE_OBJECT Bridge() const;
  // AddDevice on a new device of the bus, then IRP_MN_START_DEVICE.
  Port AddPort();
  const std::vector<Port>& Ports() const { return ports_; }

  // A new handle on `device`; nullptr when the create failed (status in `status`).
  PFILE_OBJECT Open(PDEVICE_OBJECT device, NTSTATUS* status = nullptr);
  // Cleanup, then close; the handle is gone after.
  void Close(PFILE_OBJECT file);

  RequestId Read(PFILE_OBJECT file, ULONG length);
  RequestId Write(PFILE_OBJECT file, const Bytes& bytes);
  RequestId Control(PFILE_OBJECT file, ULONG code, const Bytes& input, ULONG outLength);
  RequestId Pnp(PDEVICE_OBJECT device, UCHAR minor);

  // The service's requests on a bridge handle.
  RequestId Next(PFILE_OBJECT service, ULONG capacity);
  RequestId Answer(PFILE_OBJECT service, uint32_t id, uint32_t status, uint32_t length,
                   const Bytes& data = {});
  RequestId ReportState(PFILE_OBJECT service, ULONG com, ULONG state);

  // Closes every handle (programs' first), cancels what is still pending as a
  // thread's exit would, removes the ports, unloads the driver and checks it
  // left nothing behind.
  void Unload();

 private:
  PDRIVER_OBJECT driver_ = nullptr;
  PDRIVER_OBJECT bus_ = nullptr;
  std::vector<Port> ports_;
  std::vector<PFILE_OBJECT> files_;
  bool loaded_ = false;
};

}  // namespace kstub
