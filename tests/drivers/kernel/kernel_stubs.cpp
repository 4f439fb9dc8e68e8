// The kernel stand-in's calls (include/ntddk.h, ntifs.h) and its I/O manager.
// It runs on one thread: a spinlock taken twice is a deadlock, and a wait for
// an event nobody set would never end; both are reported.
#include "kernel_stubs.h"

#include <ntifs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

namespace kstub {
namespace {

struct Outstanding {
  RequestId id;
  UCHAR major;
  ULONG code;
  ULONG outLength;  // bytes of the caller's output buffer
  PVOID userInput;  // neither-method buffers the caller owns
  PVOID userOutput;
};

struct Key {
  int kind;  // 1 registry key, 2 security handle
  PDEVICE_OBJECT device;
};

struct State {
  std::function<void(const std::string&)> handler;
  std::map<PIRP, Outstanding> outstanding;
  std::map<RequestId, Completion> completions;
  std::map<RequestId, NTSTATUS> returned;
  std::map<RequestId, PIRP> irpOf;
  RequestId nextId = 1;
  std::map<PVOID, std::pair<size_t, ULONG>> pool;  // block -> size, tag
  std::set<Key*> handles;
  std::set<PDEVICE_OBJECT> devices;
  std::map<PDEVICE_OBJECT, size_t> extensions;  // each device's extension size
  int heldLocks = 0;
  KIRQL irql = PASSIVE_LEVEL;
  KSPIN_LOCK cancelLock = 0;
  World world;
  uint64_t completed = 0;
  std::function<void()> preempt;
  bool preempting = false;
};

State& S() {
  static State state;
  return state;
}

std::string Hex(NTSTATUS status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

void RequirePassive(const char* call) {
  if (S().heldLocks != 0) Violation(std::string(call) + " called with a spinlock held");
}

// A driver's own memory: some device's extension or one of its pool blocks.
bool Owned(const void* at, size_t size) {
  auto inside = [&](const void* block, size_t length) {
    auto from = reinterpret_cast<uintptr_t>(block), p = reinterpret_cast<uintptr_t>(at);
    return p >= from && p + size <= from + length;
  };
  for (auto& [block, entry] : S().pool)
    if (inside(block, entry.first)) return true;
  for (auto& [device, length] : S().extensions)
    if (inside(device->DeviceExtension, length)) return true;
  return false;
}

std::wstring Text(PCUNICODE_STRING s) {
  return std::wstring(s->Buffer, s->Length / sizeof(WCHAR));
}

bool BufferedControl(ULONG code) {
  return (code & 3) == 0;
}

}  // namespace

void SetViolationHandler(std::function<void(const std::string&)> handler) {
  S().handler = std::move(handler);
}

void Violation(const std::string& what) {
  if (S().handler) {
    S().handler(what);
    return;
  }
  std::fprintf(stderr, "kernel rule broken: %s\n", what.c_str());
  std::abort();
}

RequestId Submit(const Request& r) {
  State& s = S();
  const CCHAR count = r.device->StackSize;
  // The stack locations follow the request, as the kit lays them out.
  size_t size = sizeof(IRP) + static_cast<size_t>(count) * sizeof(IO_STACK_LOCATION);
  PIRP irp = static_cast<PIRP>(std::calloc(1, size));
  PIO_STACK_LOCATION stack = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
  irp->StackCount = count;
  irp->CurrentLocation = static_cast<CCHAR>(count + 1);
  irp->Tail.Overlay.CurrentStackLocation = stack + count;
  irp->Tail.Overlay.OriginalFileObject = r.file;
  irp->IoStatus.Status = r.initialStatus;
  irp->RequestorMode = UserMode;
  Outstanding o{s.nextId++, r.major, r.code, r.outLength, nullptr, nullptr};
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = r.major;
  next->MinorFunction = r.minor;
  next->FileObject = r.file;
  const bool buffered = (r.device->Flags & DO_BUFFERED_IO) != 0;
  auto copyOf = [](const Bytes& bytes, size_t room) -> PVOID {
    if (room == 0) return nullptr;
    PVOID block = std::malloc(room);
    std::memset(block, 0xA5, room);
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
    return block;
  };
  switch (r.major) {
    case IRP_MJ_READ:
      next->Parameters.Read.Length = r.outLength;
      if (buffered) irp->AssociatedIrp.SystemBuffer = copyOf({}, r.outLength);
      break;
    case IRP_MJ_WRITE:
      next->Parameters.Write.Length = static_cast<ULONG>(r.input.size());
      o.outLength = next->Parameters.Write.Length;  // information never above what was written
      if (buffered) irp->AssociatedIrp.SystemBuffer = copyOf(r.input, r.input.size());
      break;
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
      next->Parameters.DeviceIoControl.IoControlCode = r.code;
      next->Parameters.DeviceIoControl.InputBufferLength = static_cast<ULONG>(r.input.size());
      next->Parameters.DeviceIoControl.OutputBufferLength = r.outLength;
      if (BufferedControl(r.code)) {
        irp->AssociatedIrp.SystemBuffer = copyOf(r.input, std::max<size_t>(r.input.size(), r.outLength));
      } else if ((r.code & 3) == 3) {
        o.userInput = copyOf(r.input, r.input.size());
        o.userOutput = copyOf({}, r.outLength);
        next->Parameters.DeviceIoControl.Type3InputBuffer = o.userInput;
        irp->UserBuffer = o.userOutput;
      } else {
        // Direct: the input is buffered, the output goes by a memory list the driver does not use.
        irp->AssociatedIrp.SystemBuffer = copyOf(r.input, r.input.size());
      }
      break;
    default:
      break;
  }
  RequestId id = o.id;
  s.outstanding[irp] = o;
  s.irpOf[id] = irp;
  NTSTATUS status = IoCallDriver(r.device, irp);
  s.returned[id] = status;
  if (s.heldLocks != 0) Violation("a dispatch routine returned with a spinlock held");
  auto done = s.completions.find(id);
  if (done == s.completions.end()) {
    if (status != STATUS_PENDING)
      Violation("request returned " + Hex(status) + " uncompleted and not pending");
    else if (!(stack[count - 1].Control & SL_PENDING_RETURNED))
      Violation("request returned pending without IoMarkIrpPending");
  }
  return id;
}

NTSTATUS Returned(RequestId id) {
  return S().returned.at(id);
}

const Completion* Result(RequestId id) {
  auto at = S().completions.find(id);
  return at == S().completions.end() ? nullptr : &at->second;
}

bool Pending(RequestId id) {
  return S().irpOf.count(id) != 0;
}

std::vector<RequestId> PendingRequests() {
  std::vector<RequestId> ids;
  for (auto& [id, irp] : S().irpOf) ids.push_back(id);
  return ids;
}

bool Cancel(RequestId id) {
  KIRQL irql;
  // The request is looked up under the cancel lock: a request that ended meanwhile is not touched.
  IoAcquireCancelSpinLock(&irql);
  auto at = S().irpOf.find(id);
  PDRIVER_CANCEL routine = nullptr;
  PIRP irp = at == S().irpOf.end() ? nullptr : at->second;
  if (irp != nullptr) {
    irp->Cancel = TRUE;
    routine = IoSetCancelRoutine(irp, nullptr);
  }
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return false;
  }
  irp->CancelIrql = irql;
  routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
  if (S().cancelLock != 0) Violation("a cancel routine returned with the cancel spinlock held");
  return true;
}

void SetPreemption(std::function<void()> preempt) {
  S().preempt = std::move(preempt);
}

World& TheWorld() {
  return S().world;
}

size_t PoolBlocks() {
  return S().pool.size();
}

size_t OpenHandles() {
  return S().handles.size();
}

size_t LiveDevices() {
  return S().devices.size();
}

void Reset() {
  State& s = S();
  if (!s.irpOf.empty()) Violation(std::to_string(s.irpOf.size()) + " requests never completed");
  if (!s.pool.empty()) Violation("the driver left " + std::to_string(s.pool.size()) + " pool blocks");
  if (!s.handles.empty()) Violation("the driver left " + std::to_string(s.handles.size()) + " handles open");
  if (!s.world.symbolicLinks.empty()) Violation("the driver left symbolic links");
  if (!s.world.serialComm.empty()) Violation("the driver left device map values");
  auto handler = std::move(s.handler);
  auto preempt = std::move(s.preempt);
  s.~State();
  new (&s) State();
  s.handler = std::move(handler);
  s.preempt = std::move(preempt);
}

}  // namespace kstub

using kstub::S;

extern "C" {

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  size_t bytes = source ? wcslen(source) * sizeof(WCHAR) : 0;
  destination->Length = static_cast<USHORT>(bytes);
  destination->MaximumLength = static_cast<USHORT>(source ? bytes + sizeof(WCHAR) : 0);
  destination->Buffer = const_cast<PWSTR>(source);
}

void RtlFreeUnicodeString(PUNICODE_STRING string) {
  if (string->Buffer != nullptr) ExFreePoolWithTag(string->Buffer, 0);
  string->Buffer = nullptr;
  string->Length = string->MaximumLength = 0;
}

PVOID ExAllocatePoolWithTag(POOL_TYPE type, size_t size, ULONG tag) {
  if (type != NonPagedPool) kstub::RequirePassive("ExAllocatePoolWithTag(PagedPool)");
  PVOID block = std::malloc(size == 0 ? 1 : size);
  std::memset(block, 0xBD, size == 0 ? 1 : size);  // pool is not zeroed
  S().pool[block] = {size, tag};
  return block;
}

void ExFreePoolWithTag(PVOID block, ULONG tag) {
  auto at = S().pool.find(block);
  if (at == S().pool.end()) {
    kstub::Violation("ExFreePoolWithTag of a block not allocated");
    return;
  }
  if (tag != 0 && at->second.second != tag) kstub::Violation("ExFreePoolWithTag with another tag");
  S().pool.erase(at);
  std::free(block);
}

void KeInitializeSpinLock(PKSPIN_LOCK lock) {
  *lock = 0;
}

void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql) {
  kstub::State& s = S();
  if (s.heldLocks == 0 && s.preempt && !s.preempting) {
    s.preempting = true;
    s.preempt();
    s.preempting = false;
  }
  if (*lock != 0) {
    std::fprintf(stderr, "kernel rule broken: spinlock %p acquired while held: deadlock\n", (void*)lock);
    std::abort();
  }
  *lock = 1;
  ++S().heldLocks;
  *oldIrql = S().irql;
  S().irql = DISPATCH_LEVEL;
}

void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql) {
  if (*lock == 0) kstub::Violation("spinlock released that was not held");
  *lock = 0;
  --S().heldLocks;
  S().irql = newIrql;
}

void IoAcquireCancelSpinLock(PKIRQL irql) {
  KeAcquireSpinLock(&S().cancelLock, irql);
}

void IoReleaseCancelSpinLock(KIRQL irql) {
  KeReleaseSpinLock(&S().cancelLock, irql);
}

void KeInitializeEvent(PKEVENT event, EVENT_TYPE, BOOLEAN state) {
  event->signalled = state;
}

LONG KeSetEvent(PKEVENT event, LONG, BOOLEAN) {
  LONG was = event->signalled;
  event->signalled = 1;
  return was;
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER) {
  kstub::RequirePassive("KeWaitForSingleObject");
  if (!static_cast<PKEVENT>(object)->signalled) kstub::Violation("waits for an event nobody will set");
  return STATUS_SUCCESS;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  if (irp->CurrentLocation <= 1) {
    std::fprintf(stderr, "kernel rule broken: IoCallDriver with no stack location left\n");
    std::abort();
  }
  irp->CurrentLocation--;
  PIO_STACK_LOCATION stack = --irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = device;
  return device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
}

void IoCompleteRequest(PIRP irp, CCHAR) {
  kstub::State& s = S();
  if (irp->IoStatus.Status == STATUS_PENDING) kstub::Violation("request completed with STATUS_PENDING");
  if (irp->CancelRoutine != nullptr) kstub::Violation("request completed with its cancel routine set");
  if (s.heldLocks != 0) kstub::Violation("IoCompleteRequest called with a spinlock held");
  // Up the stack: each driver above gets its completion routine.
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    NTSTATUS status = irp->IoStatus.Status;
    bool invoke = (NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                  (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                  (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL));
    PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    PVOID context = stack->Context;
    stack->CompletionRoutine = nullptr;
    stack->Context = nullptr;
    if (routine != nullptr && invoke) {
      PDEVICE_OBJECT above = irp->CurrentLocation <= irp->StackCount
                                 ? irp->Tail.Overlay.CurrentStackLocation->DeviceObject
                                 : nullptr;
      if (routine(above, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
      IoMarkIrpPending(irp);
    }
  }
  auto at = s.outstanding.find(irp);
  if (at == s.outstanding.end()) {
    kstub::Violation("IoCompleteRequest of a request not outstanding");
    return;
  }
  kstub::Outstanding o = at->second;
  s.outstanding.erase(at);
  s.irpOf.erase(o.id);
  kstub::Completion c;
  c.order = ++s.completed;
  c.status = irp->IoStatus.Status;
  c.information = irp->IoStatus.Information;
  bool hasOutput = o.major == IRP_MJ_READ || o.major == IRP_MJ_WRITE || o.major == IRP_MJ_DEVICE_CONTROL ||
                   o.major == IRP_MJ_INTERNAL_DEVICE_CONTROL;
  if (hasOutput && c.information > o.outLength && NT_SUCCESS(c.status))
    kstub::Violation("request completed with information " + std::to_string(c.information) +
                     " above its buffer of " + std::to_string(o.outLength));
  const uint8_t* out = nullptr;
  if (o.major == IRP_MJ_READ || (o.major == IRP_MJ_DEVICE_CONTROL && kstub::BufferedControl(o.code)))
    out = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  else if (o.major == IRP_MJ_DEVICE_CONTROL && (o.code & 3) == 3)
    out = static_cast<const uint8_t*>(o.userOutput);
  if (out != nullptr && NT_SUCCESS(c.status))
    c.output.assign(out, out + std::min<size_t>(c.information, o.outLength));
  s.completions[o.id] = std::move(c);
  // The request is gone: a driver that touches it again reads freed memory.
  std::free(irp->AssociatedIrp.SystemBuffer);
  std::free(o.userInput);
  std::free(o.userOutput);
  std::free(irp);
}

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name, ULONG type,
                        ULONG characteristics, BOOLEAN, PDEVICE_OBJECT* device) {
  PDEVICE_OBJECT d = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT)));
  d->DriverObject = driver;
  d->Flags = DO_DEVICE_INITIALIZING;
  d->Characteristics = characteristics;
  d->DeviceType = type;
  d->StackSize = 1;
  // Exactly the size asked: a driver reading past its extension is caught.
  d->DeviceExtension = std::malloc(extensionSize);
  S().devices.insert(d);
  S().extensions[d] = extensionSize;
  if (name != nullptr) S().world.namedDevices[kstub::Text(name)] = d;
  *device = d;
  return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT device) {
  if (S().devices.erase(device) == 0) {
    kstub::Violation("IoDeleteDevice of a device that is not there");
    return;
  }
  S().world.deviceAccess.erase(device);
  S().extensions.erase(device);
  for (auto at = S().world.namedDevices.begin(); at != S().world.namedDevices.end();)
    at = at->second == device ? S().world.namedDevices.erase(at) : std::next(at);
  std::free(device->DeviceExtension);
  std::free(device);
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
  while (target->AttachedDevice != nullptr) target = target->AttachedDevice;
  target->AttachedDevice = source;
  source->StackSize = static_cast<CCHAR>(target->StackSize + 1);
  return target;
}

void IoDetachDevice(PDEVICE_OBJECT target) {
  target->AttachedDevice = nullptr;
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING device) {
  kstub::RequirePassive("IoCreateSymbolicLink");
  auto [at, made] = S().world.symbolicLinks.emplace(kstub::Text(link), kstub::Text(device));
  return made ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING link) {
  kstub::RequirePassive("IoDeleteSymbolicLink");
  return S().world.symbolicLinks.erase(kstub::Text(link)) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT pdo, const GUID*, PUNICODE_STRING, PUNICODE_STRING name) {
  kstub::RequirePassive("IoRegisterDeviceInterface");
  wchar_t text[64];
  std::swprintf(text, 64, L"\\??\\ROOT#PORTS#%p#{COMPORT}", (void*)pdo);
  size_t bytes = wcslen(text) * sizeof(WCHAR);
  name->Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), 0));
  std::memcpy(name->Buffer, text, bytes + sizeof(WCHAR));
  name->Length = static_cast<USHORT>(bytes);
  name->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
  S().world.interfaces[text] = false;
  return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING name, BOOLEAN enable) {
  kstub::RequirePassive("IoSetDeviceInterfaceState");
  auto at = S().world.interfaces.find(kstub::Text(name));
  if (at == S().world.interfaces.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  at->second = enable != 0;
  return STATUS_SUCCESS;
}

static bool RemoveLockOwned(PIO_REMOVE_LOCK lock);

void IoInitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG, ULONG) {
  if (!RemoveLockOwned(lock)) return;
  lock->removed = 0;
  lock->count = 1;  // the lock's own hold, given up by IoReleaseRemoveLockAndWait
  lock->tag = tag;
}

// A remove lock lives in the device's extension (or the driver's pool): one
// anywhere else is memory the driver does not own.
static bool RemoveLockOwned(PIO_REMOVE_LOCK lock) {
  if (kstub::Owned(lock, sizeof *lock)) return true;
  kstub::Violation("remove lock outside the driver's memory (past a device extension?)");
  return false;
}

NTSTATUS IoAcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID) {
  if (!RemoveLockOwned(lock)) return STATUS_DELETE_PENDING;
  if (lock->removed) return STATUS_DELETE_PENDING;
  ++lock->count;
  return STATUS_SUCCESS;
}

void IoReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID) {
  if (!RemoveLockOwned(lock)) return;
  if (--lock->count < 0 || (lock->count == 0 && !lock->removed))
    kstub::Violation("remove lock released more often than acquired");
}

void IoReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID) {
  if (!RemoveLockOwned(lock)) return;
  lock->removed = 1;
  lock->count -= 2;
  if (lock->count != 0)
    kstub::Violation("removal waits for " + std::to_string(lock->count) +
                     " holders of the remove lock: it never ends");
}

void PoStartNextPowerIrp(PIRP) {}

NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  return IoCallDriver(device, irp);
}

NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG type, PVOID data,
                               ULONG length) {
  kstub::RequirePassive("RtlWriteRegistryValue");
  if (relativeTo != RTL_REGISTRY_DEVICEMAP || std::wstring(path) != L"SERIALCOMM" || type != REG_SZ)
    return STATUS_ACCESS_DENIED;
  const WCHAR* text = static_cast<const WCHAR*>(data);
  size_t chars = length / sizeof(WCHAR);
  if (chars == 0 || text[chars - 1] != 0) kstub::Violation("REG_SZ value without its terminating NUL");
  S().world.serialComm[valueName] = std::wstring(text, wcsnlen(text, chars));
  return STATUS_SUCCESS;
}

NTSTATUS RtlDeleteRegistryValue(ULONG, PCWSTR, PCWSTR valueName) {
  kstub::RequirePassive("RtlDeleteRegistryValue");
  return S().world.serialComm.erase(valueName) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT device, ULONG, ACCESS_MASK, PHANDLE key) {
  kstub::RequirePassive("IoOpenDeviceRegistryKey");
  kstub::Key* k = new kstub::Key{1, device};
  S().handles.insert(k);
  *key = k;
  return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG, ULONG type, PVOID data, ULONG size) {
  kstub::RequirePassive("ZwSetValueKey");
  kstub::Key* k = static_cast<kstub::Key*>(key);
  if (!S().handles.count(k) || k->kind != 1) return STATUS_INVALID_PARAMETER;
  kstub::Bytes value(4);
  value[0] = static_cast<uint8_t>(type);  // the type, then the data
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  value.insert(value.end(), bytes, bytes + size);
  S().world.deviceKeys[k->device][kstub::Text(name)] = value;
  return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING name, KEY_VALUE_INFORMATION_CLASS infoClass, PVOID info,
                         ULONG length, PULONG resultLength) {
  kstub::RequirePassive("ZwQueryValueKey");
  kstub::Key* k = static_cast<kstub::Key*>(key);
  if (!S().handles.count(k) || k->kind != 1 || infoClass != KeyValuePartialInformation)
    return STATUS_INVALID_PARAMETER;
  auto& values = S().world.deviceKeys[k->device];
  auto at = values.find(kstub::Text(name));
  if (at == values.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  ULONG dataLength = static_cast<ULONG>(at->second.size() - 4);
  ULONG needed = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + dataLength;
  *resultLength = needed;
  if (length < needed) return STATUS_BUFFER_TOO_SMALL;
  PKEY_VALUE_PARTIAL_INFORMATION out = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(info);
  out->TitleIndex = 0;
  out->Type = at->second[0];
  out->DataLength = dataLength;
  std::memcpy(out->Data, at->second.data() + 4, dataLength);
  return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE handle) {
  kstub::Key* k = static_cast<kstub::Key*>(handle);
  if (S().handles.erase(k) == 0) {
    kstub::Violation("ZwClose of a handle not open");
    return STATUS_INVALID_PARAMETER;
  }
  delete k;
  return STATUS_SUCCESS;
}

// Security: a SID is revision, count, a 6-byte authority and 32-bit sub-authorities.
NTSTATUS RtlInitializeSid(PSID sid, PSID_IDENTIFIER_AUTHORITY authority, UCHAR count) {
  uint8_t* bytes = static_cast<uint8_t*>(sid);
  bytes[0] = 1;
  bytes[1] = count;
  std::memcpy(bytes + 2, authority->Value, 6);
  return STATUS_SUCCESS;
}

PULONG RtlSubAuthoritySid(PSID sid, ULONG index) {
  return reinterpret_cast<PULONG>(static_cast<uint8_t*>(sid) + 8 + 4 * index);
}

NTSTATUS RtlCreateAcl(PACL acl, ULONG length, ULONG revision) {
  if (length < sizeof(ACL)) return STATUS_BUFFER_TOO_SMALL;
  std::memset(acl, 0, sizeof(ACL));
  acl->AclRevision = static_cast<UCHAR>(revision);
  acl->AclSize = static_cast<USHORT>(length);
  return STATUS_SUCCESS;
}

// Entries follow the header: type, flags, size (16-bit), mask, the SID.
NTSTATUS RtlAddAccessAllowedAce(PACL acl, ULONG, ACCESS_MASK mask, PSID sid) {
  uint8_t* base = reinterpret_cast<uint8_t*>(acl);
  size_t used = sizeof(ACL);
  for (USHORT i = 0; i < acl->AceCount; ++i) used += base[used + 2] | (base[used + 3] << 8);
  size_t sidLength = 8 + 4 * static_cast<const uint8_t*>(sid)[1];
  size_t aceLength = 8 + sidLength;
  if (used + aceLength > acl->AclSize) return STATUS_BUFFER_TOO_SMALL;
  uint8_t* ace = base + used;
  ace[0] = 0;
  ace[1] = 0;
  ace[2] = static_cast<uint8_t>(aceLength);
  ace[3] = static_cast<uint8_t>(aceLength >> 8);
  std::memcpy(ace + 4, &mask, 4);
  std::memcpy(ace + 8, sid, sidLength);
  ++acl->AceCount;
  return STATUS_SUCCESS;
}

NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, ULONG revision) {
  descriptor->Revision = static_cast<UCHAR>(revision);
  descriptor->DaclPresent = FALSE;
  descriptor->Dacl = nullptr;
  return STATUS_SUCCESS;
}

NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, BOOLEAN present, PACL dacl, BOOLEAN) {
  descriptor->DaclPresent = present;
  descriptor->Dacl = dacl;
  return STATUS_SUCCESS;
}

NTSTATUS ObOpenObjectByPointer(PVOID object, ULONG, PVOID, ACCESS_MASK, PVOID, KPROCESSOR_MODE,
                               PHANDLE handle) {
  kstub::RequirePassive("ObOpenObjectByPointer");
  kstub::Key* k = new kstub::Key{2, static_cast<PDEVICE_OBJECT>(object)};
  S().handles.insert(k);
  *handle = k;
  return STATUS_SUCCESS;
}

NTSTATUS ZwSetSecurityObject(HANDLE handle, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR descriptor) {
  kstub::RequirePassive("ZwSetSecurityObject");
  kstub::Key* k = static_cast<kstub::Key*>(handle);
  if (!S().handles.count(k) || k->kind != 2 || !descriptor->DaclPresent) return STATUS_INVALID_PARAMETER;
  std::vector<ACCESS_MASK> masks;
  const uint8_t* base = reinterpret_cast<const uint8_t*>(descriptor->Dacl);
  size_t at = sizeof(ACL);
  for (USHORT i = 0; i < descriptor->Dacl->AceCount; ++i) {
    ACCESS_MASK mask;
    std::memcpy(&mask, base + at + 4, 4);
    masks.push_back(mask);
    at += base[at + 2] | (base[at + 3] << 8);
  }
  S().world.deviceAccess[k->device] = masks;
  return STATUS_SUCCESS;
}

}  // extern "C"
