#include "kernel_harness.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace kstub {
namespace {

// What the I/O manager puts in a driver object's table before DriverEntry.
NTSTATUS NTAPI InvalidRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

// The bus below each port: starts when asked, and completes everything else
// with the status the driver above left in the request.
NTSTATUS NTAPI BusDispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_START_DEVICE)
    irp->IoStatus.Status = STATUS_SUCCESS;
  if (stack->MajorFunction == IRP_MJ_POWER) {
    PoStartNextPowerIrp(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
  }
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

PDRIVER_OBJECT NewDriverObject(PDRIVER_DISPATCH dispatch) {
  auto* driver = static_cast<PDRIVER_OBJECT>(std::calloc(1, sizeof(DRIVER_OBJECT)));
  driver->DriverExtension = static_cast<PDRIVER_EXTENSION>(std::calloc(1, sizeof(DRIVER_EXTENSION)));
  driver->DriverExtension->DriverObject = driver;
  for (auto& entry : driver->MajorFunction) entry = dispatch;
  return driver;
}

void FreeDriverObject(PDRIVER_OBJECT driver) {
  std::free(driver->DriverExtension);
  std::free(driver);
}

}  // namespace

bool ParseHanded(const Completion& done, Handed* out) {
  if (!NT_SUCCESS(done.status) ||
      !VportReadBridgeRequest(done.output.data(), done.output.size(), &out->header))
    return false;
  auto from = done.output.begin() + VPORT_BRIDGE_HEADER_SIZE;
  size_t carried =
      out->header.kind == VPORT_BRIDGE_READ || out->header.kind == VPORT_BRIDGE_WAIT ? 0 : out->header.length;
  out->payload.assign(from, from + carried);
  return true;
}

Driver::Driver() {
  driver_ = NewDriverObject(InvalidRequest);
  bus_ = NewDriverObject(BusDispatch);
  UNICODE_STRING path;
  RtlInitUnicodeString(&path, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qnvport");
  if (!NT_SUCCESS(DriverEntry(driver_, &path))) Violation("DriverEntry failed");
  loaded_ = true;
}

Driver::~Driver() {
  Unload();
}

PDEVICE_OBJECT Driver::Bridge() const {
  auto at = TheWorld().namedDevices.find(L"\\Device\\QnVportBridge");
  return at == TheWorld().namedDevices.end() ? nullptr : at->second;
}

Driver::Port Driver::AddPort() {
  Port port;
  IoCreateDevice(bus_, 0, nullptr, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &port.pdo);
  port.pdo->Flags &= ~DO_DEVICE_INITIALIZING;
  auto before = TheWorld().symbolicLinks;
  if (!NT_SUCCESS(driver_->DriverExtension->AddDevice(driver_, port.pdo))) {
    Violation("AddDevice failed");
    return port;
  }
  port.fdo = port.pdo->AttachedDevice;
  for (auto& [link, target] : TheWorld().symbolicLinks)
    if (!before.count(link))
      port.com = static_cast<ULONG>(std::wcstoul(link.c_str() + link.find(L"COM") + 3, nullptr, 10));
  RequestId start = Pnp(port.fdo, IRP_MN_START_DEVICE);
  if (Result(start) == nullptr || !NT_SUCCESS(Result(start)->status)) Violation("the port did not start");
  ports_.push_back(port);
  return port;
}

PFILE_OBJECT Driver::Open(PDEVICE_OBJECT device, NTSTATUS* status) {
  auto* file = static_cast<PFILE_OBJECT>(std::calloc(1, sizeof(FILE_OBJECT)));
  file->DeviceObject = device;
  Request create;
  create.device = device;
  create.file = file;
  create.major = IRP_MJ_CREATE;
  const Completion* done = Result(Submit(create));
  NTSTATUS result = done != nullptr ? done->status : STATUS_PENDING;
  if (status != nullptr) *status = result;
  if (!NT_SUCCESS(result)) {
    std::free(file);
    return nullptr;
  }
  files_.push_back(file);
  return file;
}

void Driver::Close(PFILE_OBJECT file) {
  for (UCHAR major : {IRP_MJ_CLEANUP, IRP_MJ_CLOSE}) {
    Request r;
    r.device = file->DeviceObject;
    r.file = file;
    r.major = major;
    RequestId id = Submit(r);
    if (Pending(id)) Violation("a cleanup or close stayed pending");
  }
  files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
  std::free(file);
}

RequestId Driver::Read(PFILE_OBJECT file, ULONG length) {
  Request r;
  r.device = file->DeviceObject;
  r.file = file;
  r.major = IRP_MJ_READ;
  r.outLength = length;
  return Submit(r);
}

RequestId Driver::Write(PFILE_OBJECT file, const Bytes& bytes) {
  Request r;
  r.device = file->DeviceObject;
  r.file = file;
  r.major = IRP_MJ_WRITE;
  r.input = bytes;
  return Submit(r);
}

RequestId Driver::Control(PFILE_OBJECT file, ULONG code, const Bytes& input, ULONG outLength) {
  Request r;
  r.device = file->DeviceObject;
  r.file = file;
  r.major = IRP_MJ_DEVICE_CONTROL;
  r.code = code;
  r.input = input;
  r.outLength = outLength;
  return Submit(r);
}

RequestId Driver::Pnp(PDEVICE_OBJECT device, UCHAR minor) {
  Request r;
  r.device = device;
  r.major = IRP_MJ_PNP;
  r.minor = minor;
  return Submit(r);
}

RequestId Driver::Next(PFILE_OBJECT service, ULONG capacity) {
  return Control(service, VPORT_BRIDGE_NEXT, {}, capacity);
}

RequestId Driver::Answer(PFILE_OBJECT service, uint32_t id, uint32_t status, uint32_t length,
                         const Bytes& data) {
  Bytes record(VPORT_ANSWER_HEADER_SIZE);
  VportWriteBridgeAnswer(id, status, length, record.data(), record.size());
  record.insert(record.end(), data.begin(), data.end());
  return Control(service, VPORT_BRIDGE_COMPLETE, record, 0);
}

RequestId Driver::ReportState(PFILE_OBJECT service, ULONG com, ULONG state) {
  Bytes record(VPORT_BRIDGE_STATE_SIZE);
  for (int i = 0; i < 4; ++i) {
    record[i] = static_cast<uint8_t>(com >> (8 * i));
    record[4 + i] = static_cast<uint8_t>(state >> (8 * i));
  }
  return Control(service, VPORT_BRIDGE_STATE, record, 0);
}

void Driver::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  // Programs first, then the services, as the last handles of a shutdown go.
  std::stable_partition(files_.begin(), files_.end(),
                        [this](PFILE_OBJECT f) { return f->DeviceObject != Bridge(); });
  while (!files_.empty()) Close(files_.front());
  for (RequestId id : PendingRequests()) Cancel(id);
  for (Port& port : ports_) {
    Pnp(port.fdo, IRP_MN_QUERY_REMOVE_DEVICE);
    Pnp(port.fdo, IRP_MN_REMOVE_DEVICE);
  }
  if (driver_->DriverUnload != nullptr) driver_->DriverUnload(driver_);
  for (Port& port : ports_) IoDeleteDevice(port.pdo);
  ports_.clear();
  FreeDriverObject(driver_);
  FreeDriverObject(bus_);
  Reset();
}

}  // namespace kstub
