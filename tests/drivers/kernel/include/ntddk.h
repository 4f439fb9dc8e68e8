/* A test stand-in for the kernel's driver interface, NOT the driver kit: just
 * the types, fields and calls the port driver (drivers/vport) uses, so that its
 * real sources build natively and run against the recording I/O manager of
 * tests/drivers/kernel (kernel_stubs.cpp). Names and the list macros follow the
 * kit's; layouts do not (nothing here crosses to a real kernel). Functions are
 * declared here and defined by the stand-in, which checks the rules a real
 * kernel enforces by crashing: no spinlock held where one must not be, every
 * request completed once with no cancel routine set, and so on. */
#ifndef KSTUB_NTDDK_H
#define KSTUB_NTDDK_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NTAPI
#define VOID void
#define IN
#define OUT

typedef void* PVOID;
typedef uint8_t UCHAR, *PUCHAR, BOOLEAN, *PBOOLEAN, KIRQL, *PKIRQL;
typedef char CCHAR;
typedef int16_t CSHORT;
typedef uint16_t USHORT, *PUSHORT;
typedef int32_t LONG, *PLONG, NTSTATUS;
typedef uint32_t ULONG, *PULONG, ACCESS_MASK, SECURITY_INFORMATION;
typedef uintptr_t ULONG_PTR, KSPIN_LOCK, *PKSPIN_LOCK;
typedef wchar_t WCHAR, *PWSTR;
typedef const wchar_t* PCWSTR;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef int64_t LONGLONG;
typedef union _LARGE_INTEGER {
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

#define TRUE 1
#define FALSE 0

#define FIELD_OFFSET(type, field) ((LONG)offsetof(type, field))
/* The kit's CONTAINING_RECORD subtracts &((type*)0)->field; the same offset
 * through offsetof, which the undefined-behaviour sanitizer accepts. */
#define CONTAINING_RECORD(address, type, field) ((type*)((char*)(address)-offsetof(type, field)))

/* Status values. */
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102)
#define STATUS_PENDING ((NTSTATUS)0x00000103)
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000E)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009A)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BB)
#define STATUS_INVALID_DEVICE_STATE ((NTSTATUS)0xC0000184)
#define STATUS_IO_DEVICE_ERROR ((NTSTATUS)0xC0000185)
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009D)
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225)

/* Doubly linked lists, as the kit defines them. */
typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY* Flink;
  struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

static inline void InitializeListHead(PLIST_ENTRY head) {
  head->Flink = head->Blink = head;
}
static inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) {
  return head->Flink == head;
}
static inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  PLIST_ENTRY flink = entry->Flink, blink = entry->Blink;
  blink->Flink = flink;
  flink->Blink = blink;
  return flink == blink;
}
static inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink, flink = entry->Flink;
  head->Flink = flink;
  flink->Blink = head;
  return entry;
}
static inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Blink, blink = entry->Blink;
  head->Blink = blink;
  blink->Flink = head;
  return entry;
}
static inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY blink = head->Blink;
  entry->Flink = head;
  entry->Blink = blink;
  blink->Flink = entry;
  head->Blink = entry;
}
static inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY flink = head->Flink;
  entry->Flink = flink;
  entry->Blink = head;
  flink->Blink = entry;
  head->Flink = entry;
}

/* Interlocked operations. */
static inline LONG InterlockedIncrement(LONG volatile* v) {
  return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedDecrement(LONG volatile* v) {
  return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedExchange(LONG volatile* v, LONG value) {
  return __atomic_exchange_n(v, value, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedCompareExchange(LONG volatile* v, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(v, &comparand, exchange, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
static inline PVOID InterlockedExchangePointer(PVOID volatile* v, PVOID value) {
  return __atomic_exchange_n(v, value, __ATOMIC_SEQ_CST);
}
static inline PVOID InterlockedCompareExchangePointer(PVOID volatile* v, PVOID exchange, PVOID comparand) {
  __atomic_compare_exchange_n(v, &comparand, exchange, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

/* Memory, strings, GUIDs. */
#define RtlZeroMemory(destination, length) memset((destination), 0, (length))
#define RtlCopyMemory(destination, source, length) memcpy((destination), (source), (length))

typedef struct _UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
void RtlFreeUnicodeString(PUNICODE_STRING string);

typedef struct _GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  UCHAR Data4[8];
} GUID;
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) extern const GUID name
#endif

typedef enum _POOL_TYPE { NonPagedPool, PagedPool } POOL_TYPE;
PVOID ExAllocatePoolWithTag(POOL_TYPE type, size_t size, ULONG tag);
void ExFreePoolWithTag(PVOID block, ULONG tag);

/* Spinlocks and events: the stand-in runs on one thread, so a lock taken
 * twice is a deadlock it reports; held locks are counted for its checks. */
#define PASSIVE_LEVEL 0
#define DISPATCH_LEVEL 2
void KeInitializeSpinLock(PKSPIN_LOCK lock);
void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql);

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _KWAIT_REASON { Executive } KWAIT_REASON;
typedef enum _KPROCESSOR_MODE { KernelMode, UserMode } KPROCESSOR_MODE;
typedef struct _KEVENT {
  LONG signalled;
} KEVENT, *PKEVENT;
void KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG KeSetEvent(PKEVENT event, LONG increment, BOOLEAN wait);
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode, BOOLEAN alertable,
                               PLARGE_INTEGER timeout);

/* Objects of the I/O manager. */
typedef struct _DEVICE_OBJECT DEVICE_OBJECT, *PDEVICE_OBJECT;
typedef struct _DRIVER_OBJECT DRIVER_OBJECT, *PDRIVER_OBJECT;
typedef struct _IRP IRP, *PIRP;

typedef struct _FILE_OBJECT {
  PDEVICE_OBJECT DeviceObject;
  PVOID FsContext;
  PVOID FsContext2;
} FILE_OBJECT, *PFILE_OBJECT;

typedef NTSTATUS(NTAPI* PDRIVER_DISPATCH)(PDEVICE_OBJECT device, PIRP irp);
typedef NTSTATUS(NTAPI* PDRIVER_ADD_DEVICE)(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
typedef void(NTAPI* PDRIVER_UNLOAD)(PDRIVER_OBJECT driver);
typedef void(NTAPI* PDRIVER_CANCEL)(PDEVICE_OBJECT device, PIRP irp);
typedef NTSTATUS(NTAPI* PIO_COMPLETION_ROUTINE)(PDEVICE_OBJECT device, PIRP irp, PVOID context);

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CREATE_NAMED_PIPE 0x01
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_WRITE 0x04
#define IRP_MJ_QUERY_INFORMATION 0x05
#define IRP_MJ_SET_INFORMATION 0x06
#define IRP_MJ_FLUSH_BUFFERS 0x09
#define IRP_MJ_DEVICE_CONTROL 0x0e
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0f
#define IRP_MJ_SHUTDOWN 0x10
#define IRP_MJ_CLEANUP 0x12
#define IRP_MJ_QUERY_SECURITY 0x14
#define IRP_MJ_SET_SECURITY 0x15
#define IRP_MJ_POWER 0x16
#define IRP_MJ_SYSTEM_CONTROL 0x17
#define IRP_MJ_DEVICE_CHANGE 0x18
#define IRP_MJ_PNP 0x1b
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_QUERY_DEVICE_RELATIONS 0x07
#define IRP_MN_QUERY_INTERFACE 0x08
#define IRP_MN_QUERY_CAPABILITIES 0x09
#define IRP_MN_QUERY_ID 0x13
#define IRP_MN_QUERY_PNP_DEVICE_STATE 0x14
#define IRP_MN_DEVICE_USAGE_NOTIFICATION 0x16
#define IRP_MN_SURPRISE_REMOVAL 0x17

#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

typedef struct _IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      ULONG Options;
      ULONG ShareAccess;
    } Create;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Read;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Write;
    struct {
      ULONG OutputBufferLength;
      ULONG InputBufferLength;
      ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct {
      PVOID Argument1, Argument2, Argument3, Argument4;
    } Others;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

typedef struct _IO_STATUS_BLOCK {
  NTSTATUS Status;
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

struct _IRP {
  PVOID MdlAddress;
  union {
    PIRP MasterIrp;
    PVOID SystemBuffer;
  } AssociatedIrp;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CCHAR StackCount;
  CCHAR CurrentLocation;
  BOOLEAN Cancel;
  KIRQL CancelIrql;
  PDRIVER_CANCEL CancelRoutine;
  PVOID UserBuffer;
  union {
    struct {
      PVOID DriverContext[4];
      LIST_ENTRY ListEntry;
      PIO_STACK_LOCATION CurrentStackLocation;
      PFILE_OBJECT OriginalFileObject;
    } Overlay;
  } Tail;
};

#define DO_BUFFERED_IO 0x00000004
#define DO_DIRECT_IO 0x00000010
#define DO_DEVICE_INITIALIZING 0x00000080
#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_SERIAL_PORT 0x0000001b
#define FILE_DEVICE_SECURE_OPEN 0x00000100

struct _DEVICE_OBJECT {
  PDRIVER_OBJECT DriverObject;
  PDEVICE_OBJECT AttachedDevice;
  ULONG Flags;
  ULONG Characteristics;
  ULONG DeviceType;
  CCHAR StackSize;
  PVOID DeviceExtension;
};

typedef struct _DRIVER_EXTENSION {
  PDRIVER_OBJECT DriverObject;
  PDRIVER_ADD_DEVICE AddDevice;
} DRIVER_EXTENSION, *PDRIVER_EXTENSION;

struct _DRIVER_OBJECT {
  PDEVICE_OBJECT DeviceObject;
  PDRIVER_EXTENSION DriverExtension;
  PDRIVER_UNLOAD DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

#define IO_NO_INCREMENT 0

static inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation;
}
static inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation - 1;
}
static inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
  irp->CurrentLocation++;
  irp->Tail.Overlay.CurrentStackLocation++;
}
static inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp), next = IoGetNextIrpStackLocation(irp);
  memcpy(next, current, FIELD_OFFSET(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}
static inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                                          BOOLEAN onSuccess, BOOLEAN onError, BOOLEAN onCancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->CompletionRoutine = routine;
  next->Context = context;
  next->Control = 0;
  if (onSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (onError) next->Control |= SL_INVOKE_ON_ERROR;
  if (onCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
static inline void IoMarkIrpPending(PIRP irp) {
  IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}
static inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine) {
  return (PDRIVER_CANCEL)InterlockedExchangePointer((PVOID volatile*)&irp->CancelRoutine, (PVOID)routine);
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp);
void IoCompleteRequest(PIRP irp, CCHAR priorityBoost);
void IoAcquireCancelSpinLock(PKIRQL irql);
void IoReleaseCancelSpinLock(KIRQL irql);
NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name, ULONG type,
                        ULONG characteristics, BOOLEAN exclusive, PDEVICE_OBJECT* device);
void IoDeleteDevice(PDEVICE_OBJECT device);
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
void IoDetachDevice(PDEVICE_OBJECT target);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING device);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING link);
NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT pdo, const GUID* guid, PUNICODE_STRING reference,
                                   PUNICODE_STRING symbolicLinkName);
NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable);

/* Remove locks: a count and a removed flag. */
typedef struct _IO_REMOVE_LOCK {
  LONG removed;
  LONG count;
  ULONG tag;
} IO_REMOVE_LOCK, *PIO_REMOVE_LOCK;
void IoInitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG maxLockedMinutes, ULONG highWatermark);
NTSTATUS IoAcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag);
void IoReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag);
void IoReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag);

/* Power. */
void PoStartNextPowerIrp(PIRP irp);
NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp);

/* The registry: the device map and each device's own key. */
#define RTL_REGISTRY_DEVICEMAP 4
#define REG_SZ 1
#define REG_BINARY 3
#define PLUGPLAY_REGKEY_DEVICE 1
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
typedef enum _KEY_VALUE_INFORMATION_CLASS {
  KeyValueBasicInformation,
  KeyValueFullInformation,
  KeyValuePartialInformation
} KEY_VALUE_INFORMATION_CLASS;
typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;
NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG valueType,
                               PVOID valueData, ULONG valueLength);
NTSTATUS RtlDeleteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName);
NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT device, ULONG keyType, ACCESS_MASK access, PHANDLE key);
NTSTATUS ZwSetValueKey(HANDLE key, PUNICODE_STRING valueName, ULONG titleIndex, ULONG type, PVOID data,
                       ULONG dataSize);
NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING valueName, KEY_VALUE_INFORMATION_CLASS infoClass,
                         PVOID info, ULONG length, PULONG resultLength);
NTSTATUS ZwClose(HANDLE handle);

#ifdef __cplusplus
}
#endif

#endif
