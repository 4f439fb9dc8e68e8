/* The virtual serial port driver: one root-enumerated device per port, seen by
 * the platform as a COM port interface. Each port keeps its remote endpoint and
 * a connected flag, answers the five control requests of the port manager and
 * the serial requests of terminal programs, and belongs to one open handle at
 * a time. */
#include <initguid.h>
#include <ntddk.h>

#include "bridge.h"
#include "bridge_records.h"
#include "port_records.h"
#include "serial_requests.h"

/* {86E0D1E0-8089-11D0-9CE4-08003E301F73}: the COM port interface class. */
DEFINE_GUID(VportComPortInterface, 0x86E0D1E0, 0x8089, 0x11D0, 0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F,
            0x73);

/* COM numbers are handed out from here up; COM1 and COM2 are left to real ports. */
#define VPORT_FIRST_COM 3
#define VPORT_LAST_COM 255

/* Tag of the remove lock's allocations: "QVpt" as it shows in memory. */
#define VPORT_LOCK_TAG 0x74705651u

typedef struct PortExtension {
  PDEVICE_OBJECT self;
  PDEVICE_OBJECT lower;
  PDEVICE_OBJECT pdo;
  UNICODE_STRING interfaceName; /* from IoRegisterDeviceInterface; empty if that failed */
  ULONG comNumber;
  WCHAR deviceNameText[48];
  WCHAR comNameText[16];
  WCHAR dosLinkText[32];
  UNICODE_STRING dosLink;
  BOOLEAN dosLinkMade;
  BOOLEAN listed; /* in the platform's list of serial ports */
  LONG removed;   /* set once the device went away; read and written interlocked */
  /* Held by every request in progress; removal waits for them before the
   * device goes. */
  IO_REMOVE_LOCK removeLock;
  PFILE_OBJECT owner; /* the one open handle the port serves, or NULL */
  KSPIN_LOCK lock;    /* guards remote, connected and serial */
  VportRemoteSettings remote;
  ULONG connected;
  VportSerialState serial; /* line settings as the terminal program set them */
  ULONG linkState;         /* as the data service reported it */
  BOOLEAN linkReported;    /* the service reported one since the port started */
  LONG serving;            /* the data service was told of this opening (Serve) */
} PortExtension;

/* COM numbers taken by this driver's ports (all ports share one driver object),
 * and the port holding each, for the data service's link reports. */
static UCHAR g_comTaken[VPORT_LAST_COM + 1];
static PortExtension* g_comPort[VPORT_LAST_COM + 1];
static KSPIN_LOCK g_comLock;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS PassDown(PortExtension* port, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(port->lower, irp);
}

/* Passes a request down under the remove lock the caller acquired for it. */
static NTSTATUS PassDownAndRelease(PortExtension* port, PIRP irp) {
  NTSTATUS status = PassDown(port, irp);
  IoReleaseRemoveLock(&port->removeLock, irp);
  return status;
}

static BOOLEAN IsRemoved(PortExtension* port) {
  return InterlockedCompareExchange(&port->removed, 0, 0) != 0;
}

static NTSTATUS NTAPI LowerCompleted(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  (void)device;
  (void)irp;
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  /* The request is ours again; its sender finishes it. */
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Sends the request down and waits until the lower driver completed it;
 * returns its status, with the request still to be completed. */
static NTSTATUS ForwardAndWait(PortExtension* port, PIRP irp) {
  KEVENT done;
  NTSTATUS status;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, LowerCompleted, &done, TRUE, TRUE, TRUE);
  status = IoCallDriver(port->lower, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  return status;
}

static void FormatNumber(WCHAR* out, ULONG number) {
  WCHAR digits[10];
  int count = 0;
  do {
    digits[count++] = (WCHAR)(L'0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) *out++ = digits[--count];
  *out = 0;
}

static void MakeText(UNICODE_STRING* text, WCHAR* buffer, USHORT capacity, const WCHAR* prefix,
                     ULONG number) {
  WCHAR* at = buffer;
  while (*prefix) *at++ = *prefix++;
  FormatNumber(at, number);
  text->Buffer = buffer;
  text->Length = (USHORT)(wcslen(buffer) * sizeof(WCHAR));
  text->MaximumLength = capacity;
}

/* Takes the lowest COM number from `from` up that is free in this driver; 0
 * when none is left. */
static ULONG TakeComNumber(ULONG from) {
  KIRQL irql;
  ULONG n, taken = 0;
  KeAcquireSpinLock(&g_comLock, &irql);
  for (n = from; n <= VPORT_LAST_COM && taken == 0; ++n) {
    if (!g_comTaken[n]) {
      g_comTaken[n] = 1;
      taken = n;
    }
  }
  KeReleaseSpinLock(&g_comLock, irql);
  return taken;
}

static void ReleaseComNumber(ULONG n) {
  KIRQL irql;
  if (n == 0 || n > VPORT_LAST_COM) return;
  KeAcquireSpinLock(&g_comLock, &irql);
  g_comTaken[n] = 0;
  g_comPort[n] = NULL;
  KeReleaseSpinLock(&g_comLock, irql);
}

static void PublishPort(PortExtension* port) {
  KIRQL irql;
  KeAcquireSpinLock(&g_comLock, &irql);
  g_comPort[port->comNumber] = port;
  KeReleaseSpinLock(&g_comLock, irql);
}

/* The port's link as the data service reported it; before any report, the
 * manager's flag. Under the port's lock. */
static ULONG LinkStateOf(const PortExtension* port) {
  if (port->linkReported) return port->linkState;
  return port->connected ? VPORT_LINK_CONNECTED : VPORT_LINK_IDLE;
}

/* Runs `act` on the port with this COM number under its lock; FALSE when
 * there is no such port. The port stays while the COM lock is held: it leaves
 * the table under the lock before it goes. */
static BOOLEAN WithPort(ULONG comNumber, void (*act)(PortExtension* port, ULONG* values), ULONG* values) {
  PortExtension* port;
  KIRQL comIrql, irql;
  if (comNumber == 0 || comNumber > VPORT_LAST_COM) return FALSE;
  KeAcquireSpinLock(&g_comLock, &comIrql);
  port = g_comPort[comNumber];
  if (port != NULL) {
    KeAcquireSpinLock(&port->lock, &irql);
    act(port, values);
    KeReleaseSpinLock(&port->lock, irql);
  }
  KeReleaseSpinLock(&g_comLock, comIrql);
  return port != NULL;
}

static void SetLink(PortExtension* port, ULONG* state) {
  port->linkState = *state;
  port->linkReported = TRUE;
}

static void GetLink(PortExtension* port, ULONG* state) {
  *state = LinkStateOf(port);
}

static void SetQueues(PortExtension* port, ULONG* queued) {
  port->serial.inQueued = queued[0];
  port->serial.outQueued = queued[1];
}

BOOLEAN VportSetLinkState(ULONG comNumber, ULONG state) {
  return WithPort(comNumber, SetLink, &state);
}

BOOLEAN VportGetLinkState(ULONG comNumber, ULONG* state) {
  return WithPort(comNumber, GetLink, state);
}

BOOLEAN VportSetQueues(ULONG comNumber, ULONG inQueued, ULONG outQueued) {
  ULONG queued[2] = {inQueued, outQueued};
  return WithPort(comNumber, SetQueues, queued);
}

void VportForgetLinks(void) {
  KIRQL comIrql, irql;
  ULONG com;
  KeAcquireSpinLock(&g_comLock, &comIrql);
  for (com = 1; com <= VPORT_LAST_COM; ++com) {
    PortExtension* port = g_comPort[com];
    if (port == NULL) continue;
    KeAcquireSpinLock(&port->lock, &irql);
    if (port->linkReported) port->linkState = VPORT_LINK_IDLE;
    KeReleaseSpinLock(&port->lock, irql);
  }
  KeReleaseSpinLock(&g_comLock, comIrql);
}

/* What the data service hears with an open or settings notice: the port's
 * settings and whether the manager asked for it to be connected. */
static void NotifyWithSettings(PortExtension* port, ULONG kind) {
  UCHAR settings[VPORT_BRIDGE_SETTINGS_SIZE];
  VportRemoteSettings copy;
  ULONG flags;
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  copy = port->remote;
  flags = port->connected ? VPORT_BRIDGE_FLAG_CONNECT : 0;
  KeReleaseSpinLock(&port->lock, irql);
  if (VportWriteRemoteRequest(&copy, settings, sizeof settings) == 0) return;
  BridgeNotify(kind, port->comNumber, settings, flags);
}

void VportTellService(void) {
  KIRQL comIrql, irql;
  ULONG com;
  /* The COM lock keeps each port in place; its own lock gives one view of it. */
  KeAcquireSpinLock(&g_comLock, &comIrql);
  for (com = 1; com <= VPORT_LAST_COM; ++com) {
    PortExtension* port = g_comPort[com];
    UCHAR settings[VPORT_BRIDGE_SETTINGS_SIZE];
    VportRemoteSettings copy;
    ULONG connected;
    LONG serving;
    if (port == NULL) continue;
    KeAcquireSpinLock(&port->lock, &irql);
    copy = port->remote;
    connected = port->connected;
    serving = port->serving;
    KeReleaseSpinLock(&port->lock, irql);
    if ((!serving && !connected) || VportWriteRemoteRequest(&copy, settings, sizeof settings) == 0) continue;
    BridgeAnnounce(serving ? VPORT_BRIDGE_OPEN : VPORT_BRIDGE_SETTINGS, com, settings,
                   connected ? VPORT_BRIDGE_FLAG_CONNECT : 0);
  }
  KeReleaseSpinLock(&g_comLock, comIrql);
}

/* Serial programs find COM ports in the platform's device map: one value per
 * port, named by the device, holding the COM name. */
static void ListSerialPort(PortExtension* port, const UNICODE_STRING* deviceName) {
  UNICODE_STRING comName;
  USHORT chars = deviceName->Length / sizeof(WCHAR);
  if (chars >= sizeof port->deviceNameText / sizeof(WCHAR)) return;
  RtlCopyMemory(port->deviceNameText, deviceName->Buffer, deviceName->Length);
  port->deviceNameText[chars] = 0;
  MakeText(&comName, port->comNameText, sizeof port->comNameText, L"COM", port->comNumber);
  port->listed = NT_SUCCESS(RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, L"SERIALCOMM", port->deviceNameText,
                                                  REG_SZ, port->comNameText, comName.Length + sizeof(WCHAR)));
}

/* Serial programs open the port by its DOS name; a name some other device
 * holds is passed over for the next free one. A number whose name could not be
 * made is given back: the name may be free by the time the next port comes. */
static void MakeDosLink(PortExtension* port, UNICODE_STRING* deviceName) {
  ULONG n = VPORT_FIRST_COM - 1;
  while ((n = TakeComNumber(n + 1)) != 0) {
    MakeText(&port->dosLink, port->dosLinkText, sizeof port->dosLinkText, L"\\DosDevices\\COM", n);
    if (NT_SUCCESS(IoCreateSymbolicLink(&port->dosLink, deviceName))) {
      port->comNumber = n;
      port->dosLinkMade = TRUE;
      PublishPort(port);
      ListSerialPort(port, deviceName);
      return;
    }
    ReleaseComNumber(n);
  }
}

static void ReleasePortResources(PortExtension* port) {
  if (port->interfaceName.Buffer) {
    IoSetDeviceInterfaceState(&port->interfaceName, FALSE);
    RtlFreeUnicodeString(&port->interfaceName);
    port->interfaceName.Buffer = NULL;
  }
  if (port->listed) {
    RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, L"SERIALCOMM", port->deviceNameText);
    port->listed = FALSE;
  }
  if (port->dosLinkMade) {
    IoDeleteSymbolicLink(&port->dosLink);
    port->dosLinkMade = FALSE;
  }
  ReleaseComNumber(port->comNumber);
  port->comNumber = 0;
}

/* The remote settings outlive the device host: they are kept, as a set request,
 * in the device's own registry key, and read back when the port starts. */
static const WCHAR kSettingsValue[] = L"RemoteSettings";

static NTSTATUS SaveSettings(PortExtension* port, const VportRemoteSettings* settings) {
  UCHAR bytes[VPORT_REQ_SIZE];
  UNICODE_STRING name;
  HANDLE key;
  NTSTATUS status;
  if (VportWriteRemoteRequest(settings, bytes, sizeof bytes) == 0) return STATUS_INVALID_PARAMETER;
  status = IoOpenDeviceRegistryKey(port->pdo, PLUGPLAY_REGKEY_DEVICE, KEY_WRITE, &key);
  if (!NT_SUCCESS(status)) return status;
  RtlInitUnicodeString(&name, kSettingsValue);
  status = ZwSetValueKey(key, &name, 0, REG_BINARY, bytes, sizeof bytes);
  ZwClose(key);
  return status;
}

/* Reads the kept settings; a port set to connect at start comes up connected. */
static void LoadSettings(PortExtension* port) {
  ULONG buffer[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + VPORT_REQ_SIZE) / sizeof(ULONG) + 1];
  KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
  VportRemoteSettings settings;
  UNICODE_STRING name;
  HANDLE key;
  ULONG length = 0;
  NTSTATUS status;
  KIRQL irql;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(port->pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) return;
  RtlInitUnicodeString(&name, kSettingsValue);
  status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer, &length);
  ZwClose(key);
  if (!NT_SUCCESS(status) || value->Type != REG_BINARY) return;
  if (VportParseRemoteRequest(value->Data, value->DataLength, &settings) != VPORT_PARSE_OK) return;
  KeAcquireSpinLock(&port->lock, &irql);
  port->remote = settings;
  port->connected = (settings.connectAtStart && VportHasEndpoint(&settings)) ? 1 : 0;
  KeReleaseSpinLock(&port->lock, irql);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  static LONG nextDevice = -1;
  WCHAR nameText[48];
  UNICODE_STRING deviceName;
  PDEVICE_OBJECT fdo;
  PortExtension* port;
  NTSTATUS status;

  MakeText(&deviceName, nameText, sizeof nameText, L"\\Device\\QnVirtualPort",
           (ULONG)InterlockedIncrement(&nextDevice));
  status = IoCreateDevice(driver, sizeof(PortExtension), &deviceName, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &fdo);
  if (!NT_SUCCESS(status)) return status;

  port = (PortExtension*)fdo->DeviceExtension;
  RtlZeroMemory(port, sizeof *port);
  port->self = fdo;
  port->pdo = pdo;
  KeInitializeSpinLock(&port->lock);
  VportSerialDefaults(&port->serial);
  IoInitializeRemoveLock(&port->removeLock, VPORT_LOCK_TAG, 0, 0);
  port->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
  if (port->lower == NULL) {
    IoDeleteDevice(fdo);
    return STATUS_NO_SUCH_DEVICE;
  }
  status = IoRegisterDeviceInterface(pdo, &VportComPortInterface, NULL, &port->interfaceName);
  if (!NT_SUCCESS(status)) {
    IoDetachDevice(port->lower);
    IoDeleteDevice(fdo);
    return status;
  }
  MakeDosLink(port, &deviceName);
  fdo->Flags |= DO_BUFFERED_IO;
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  PortExtension* port = (PortExtension*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status;

  /* The bridge is no Plug and Play device and has no extension (no remove
   * lock): anyone who opened it can still send it one (a handle notification
   * asks for its target relations). Nothing is below it, so the request ends
   * here with the status it came with, as the rules for the lowest driver say. */
  if (BridgeIsDevice(device)) {
    status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  status = IoAcquireRemoveLock(&port->removeLock, irp);
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      /* The port starts only on a started lower device, once that finished. */
      status = ForwardAndWait(port, irp);
      if (NT_SUCCESS(status)) {
        LoadSettings(port);
        if (port->interfaceName.Buffer) IoSetDeviceInterfaceState(&port->interfaceName, TRUE);
      }
      irp->IoStatus.Status = status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      IoReleaseRemoveLock(&port->removeLock, irp);
      return status;
    case IRP_MN_SURPRISE_REMOVAL:
      InterlockedExchange(&port->removed, 1);
      if (port->interfaceName.Buffer) IoSetDeviceInterfaceState(&port->interfaceName, FALSE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDownAndRelease(port, irp);
    case IRP_MN_REMOVE_DEVICE:
      InterlockedExchange(&port->removed, 1);
      /* Refuses new requests and waits for those in progress to finish. */
      IoReleaseRemoveLockAndWait(&port->removeLock, irp);
      BridgeDropPort(port->comNumber, STATUS_DELETE_PENDING);
      ReleasePortResources(port);
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(port, irp);
      IoDetachDevice(port->lower);
      IoDeleteDevice(device);
      return status;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDownAndRelease(port, irp);
    default:
      return PassDownAndRelease(port, irp);
  }
}

static NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PortExtension* port = (PortExtension*)device->DeviceExtension;
  NTSTATUS status;
  if (BridgeIsDevice(device)) {
    PoStartNextPowerIrp(irp);
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  status = IoAcquireRemoveLock(&port->removeLock, irp);
  PoStartNextPowerIrp(irp);
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
  IoSkipCurrentIrpStackLocation(irp);
  status = PoCallDriver(port->lower, irp);
  IoReleaseRemoveLock(&port->removeLock, irp);
  return status;
}

static NTSTATUS NTAPI DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) {
  PortExtension* port = (PortExtension*)device->DeviceExtension;
  NTSTATUS status;
  if (BridgeIsDevice(device)) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  status = IoAcquireRemoveLock(&port->removeLock, irp);
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
  return PassDownAndRelease(port, irp);
}

/* The link the service reported belonged to the last opening: until it
 * reports this one's, the port is not connected (no carrier). */
static void ForgetLink(PortExtension* port) {
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  port->linkState = VPORT_LINK_IDLE;
  port->serial.inQueued = port->serial.outQueued = 0;
  KeReleaseSpinLock(&port->lock, irql);
}

/* The data service hears of an opening with the program's first read, write
 * or serial request, not at the open: the manager opens the port for its
 * own requests only, and such an opening must not connect the port (connect
 * at start) and close it again. */
static void Serve(PortExtension* port) {
  if (InterlockedCompareExchange(&port->serving, 1, 0) != 0) return;
  ForgetLink(port);
  NotifyWithSettings(port, VPORT_BRIDGE_OPEN);
}

/* The first open takes the port; later opens are refused until it closes.
 * Where the platform hands out a handle anyway, that handle is not the owner
 * and every request on it is refused. */
static NTSTATUS Create(PortExtension* port, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  if (IsRemoved(port)) return Complete(irp, STATUS_DELETE_PENDING, 0);
  if (file == NULL) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (InterlockedCompareExchangePointer((PVOID*)&port->owner, file, NULL) != NULL)
    return Complete(irp, STATUS_ACCESS_DENIED, 0);
  return Complete(irp, STATUS_SUCCESS, 0);
}

typedef NTSTATUS (*PortRequest)(PortExtension* port, PIRP irp);

/* Runs one request under the port's remove lock, so the port cannot go away
 * while the request uses it; a port already on its way out refuses it. */
static NTSTATUS UnderRemoveLock(PDEVICE_OBJECT device, PIRP irp, PortRequest request) {
  PortExtension* port = (PortExtension*)device->DeviceExtension;
  NTSTATUS status = IoAcquireRemoveLock(&port->removeLock, irp);
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
  status = request(port, irp);
  IoReleaseRemoveLock(&port->removeLock, irp);
  return status;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  if (BridgeIsDevice(device)) return BridgeDispatch(device, irp);
  return UnderRemoveLock(device, irp, Create);
}

/* A handle always closes, also on a port on its way out. */
static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PortExtension* port = (PortExtension*)device->DeviceExtension;
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  BOOLEAN locked;
  if (BridgeIsDevice(device)) return BridgeDispatch(device, irp);
  locked = NT_SUCCESS(IoAcquireRemoveLock(&port->removeLock, irp));
  /* The port is let go last: the next program's opening then reaches the
   * data service after this one's close (and is told it anew). */
  if (file != NULL && port->owner == file) {
    /* Where no cleanup came first, what of the program still waits ends here. */
    BridgeDropFile(file, STATUS_CANCELLED);
    if (InterlockedExchange(&port->serving, 0) != 0)
      BridgeNotify(VPORT_BRIDGE_CLOSE, port->comNumber, NULL, 0);
    InterlockedCompareExchangePointer((PVOID*)&port->owner, NULL, file);
  }
  Complete(irp, STATUS_SUCCESS, 0);
  if (locked) IoReleaseRemoveLock(&port->removeLock, irp);
  return STATUS_SUCCESS;
}

/* The program's last handle goes: its reads and writes still waiting end. */
static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  PortExtension* port = (PortExtension*)device->DeviceExtension;
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  BOOLEAN locked;
  if (BridgeIsDevice(device)) return BridgeDispatch(device, irp);
  locked = NT_SUCCESS(IoAcquireRemoveLock(&port->removeLock, irp));
  if (file != NULL && port->owner == file) BridgeDropFile(file, STATUS_CANCELLED);
  Complete(irp, STATUS_SUCCESS, 0);
  if (locked) IoReleaseRemoveLock(&port->removeLock, irp);
  return STATUS_SUCCESS;
}

static BOOLEAN IsOwner(PortExtension* port, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  return file != NULL && port->owner == file;
}

/* The manager's five requests work on buffers, not on a request, so that the
 * port's own handle and the bridge (VportManage) run them alike: the same
 * checks, statuses and notices to the data service either way. Each reads its
 * input before it writes any output, so the two may share a buffer (as a
 * buffered request's do); `*information` gets the bytes of output. */
static NTSTATUS SetRemoteInfo(PortExtension* port, const UCHAR* in, ULONG inLength) {
  VportRemoteSettings parsed;
  KIRQL irql;
  NTSTATUS saved;
  VportParseResult result = VportParseRemoteRequest((const uint8_t*)in, inLength, &parsed);
  if (result == VPORT_PARSE_TOO_SHORT) return STATUS_BUFFER_TOO_SMALL;
  if (result != VPORT_PARSE_OK) return STATUS_INVALID_PARAMETER;
  /* Kept first: settings that would not outlive the device host are refused,
   * and the old ones stay in force. */
  saved = SaveSettings(port, &parsed);
  if (!NT_SUCCESS(saved)) return saved;
  KeAcquireSpinLock(&port->lock, &irql);
  port->remote = parsed;
  KeReleaseSpinLock(&port->lock, irql);
  NotifyWithSettings(port, VPORT_BRIDGE_SETTINGS);
  return STATUS_SUCCESS;
}

static NTSTATUS GetRemoteInfo(PortExtension* port, UCHAR* out, ULONG outLength, ULONG_PTR* information) {
  VportRemoteSettings copy;
  ULONG connected;
  KIRQL irql;
  size_t written;
  KeAcquireSpinLock(&port->lock, &irql);
  copy = port->remote;
  connected = port->connected;
  KeReleaseSpinLock(&port->lock, irql);
  written = VportWriteRemoteReply(&copy, connected, (uint8_t*)out, outLength);
  if (written == 0) return STATUS_BUFFER_TOO_SMALL;
  *information = written;
  return STATUS_SUCCESS;
}

static NTSTATUS GetDosName(PortExtension* port, UCHAR* out, ULONG outLength, ULONG_PTR* information) {
  size_t written;
  if (!port->dosLinkMade) return STATUS_OBJECT_NAME_NOT_FOUND;
  written = VportWriteDosNameReply(port->comNumber, (uint8_t*)out, outLength);
  if (written == 0) return STATUS_BUFFER_TOO_SMALL;
  *information = written;
  return STATUS_SUCCESS;
}

/* Connecting needs an endpoint stored by the set request; without one there is
 * nowhere to connect to, and the manager must not show the port as connected. */
static NTSTATUS SetConnected(PortExtension* port, ULONG connected) {
  KIRQL irql;
  NTSTATUS status = STATUS_SUCCESS;
  KeAcquireSpinLock(&port->lock, &irql);
  if (connected && !VportHasEndpoint(&port->remote))
    status = STATUS_INVALID_DEVICE_STATE;
  else
    port->connected = connected;
  KeReleaseSpinLock(&port->lock, irql);
  if (NT_SUCCESS(status)) NotifyWithSettings(port, VPORT_BRIDGE_SETTINGS);
  return status;
}

static BOOLEAN IsManagerRequest(ULONG code) {
  return code == VPORT_IOCTL_GET_DOS_NAME || code == VPORT_IOCTL_SET_REMOTE_INFO ||
         code == VPORT_IOCTL_GET_REMOTE_INFO || code == VPORT_IOCTL_CONNECTION ||
         code == VPORT_IOCTL_DISCONNECTION;
}

static NTSTATUS ManagerRequest(PortExtension* port, ULONG code, const UCHAR* in, ULONG inLength, UCHAR* out,
                               ULONG outLength, ULONG_PTR* information) {
  *information = 0;
  switch (code) {
    case VPORT_IOCTL_GET_DOS_NAME:
      return GetDosName(port, out, outLength, information);
    case VPORT_IOCTL_SET_REMOTE_INFO:
      return SetRemoteInfo(port, in, inLength);
    case VPORT_IOCTL_GET_REMOTE_INFO:
      return GetRemoteInfo(port, out, outLength, information);
    case VPORT_IOCTL_CONNECTION:
      return SetConnected(port, 1);
    case VPORT_IOCTL_DISCONNECTION:
      return SetConnected(port, 0);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

/* The port whose interface the manager named, held by its remove lock (with
 * `tag`) so that it stays while the request runs; NULL when no port has that
 * interface or it is on its way out. The lock is taken before the name is
 * read: a port being removed frees its name only once its lock drained. */
static PortExtension* TakePortByInterface(const VportManageRequest* request, PVOID tag) {
  PortExtension* found = NULL;
  KIRQL irql;
  ULONG com;
  KeAcquireSpinLock(&g_comLock, &irql);
  for (com = 1; com <= VPORT_LAST_COM && found == NULL; ++com) {
    PortExtension* port = g_comPort[com];
    if (port == NULL || IsRemoved(port) || !NT_SUCCESS(IoAcquireRemoveLock(&port->removeLock, tag))) continue;
    if (port->interfaceName.Buffer != NULL &&
        VportInterfacePathMatches(request->path, request->pathLength,
                                  (const uint16_t*)port->interfaceName.Buffer,
                                  port->interfaceName.Length / sizeof(WCHAR)))
      found = port;
    else
      IoReleaseRemoveLock(&port->removeLock, tag);
  }
  KeReleaseSpinLock(&g_comLock, irql);
  return found;
}

NTSTATUS VportManage(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  VportManageRequest request;
  PortExtension* port;
  ULONG_PTR information = 0;
  NTSTATUS status;
  if (buffer == NULL ||
      !VportReadManageRequest(buffer, stack->Parameters.DeviceIoControl.InputBufferLength, &request) ||
      !IsManagerRequest(request.code))
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  port = TakePortByInterface(&request, irp);
  if (port == NULL) return Complete(irp, STATUS_NOT_FOUND, 0);
  /* The output goes to the front of the buffer the input came in; the request
   * has read its input by then. */
  status = ManagerRequest(port, request.code, request.input, request.inputLength, buffer,
                          stack->Parameters.DeviceIoControl.OutputBufferLength, &information);
  IoReleaseRemoveLock(&port->removeLock, irp);
  return Complete(irp, status, information);
}

/* The requests of terminal programs: line settings kept and answered back.
 * The modem lines are up while the port's link is. */
/* A wait on the event mask goes to the data service, which answers it when an
 * event of the mask happens; without a mask there is nothing to wait for. */
static NTSTATUS WaitOnMask(PortExtension* port, PIRP irp, ULONG outLength) {
  ULONG mask;
  KIRQL irql;
  if (outLength < 4 || irp->AssociatedIrp.SystemBuffer == NULL)
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  KeAcquireSpinLock(&port->lock, &irql);
  mask = port->serial.waitMask;
  KeReleaseSpinLock(&port->lock, irql);
  if (mask == 0) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  return BridgeForwardWait(irp, port->comNumber, mask);
}

/* PurgeComm: the aborts end the port's reads or writes that wait here; the
 * data service drops what it holds for the port and the writes ended. */
static void Purge(PortExtension* port, ULONG flags) {
  if (flags & VPORT_PURGE_RXABORT) BridgeEndRequests(port->comNumber, VPORT_BRIDGE_READ);
  if (flags & VPORT_PURGE_TXABORT) BridgeEndRequests(port->comNumber, VPORT_BRIDGE_WRITE);
  BridgeNotify(VPORT_BRIDGE_PURGE, port->comNumber, NULL, flags);
}

static NTSTATUS SerialControl(PortExtension* port, PIRP irp, ULONG code, ULONG inLength, ULONG outLength) {
  uint8_t* buffer = (uint8_t*)irp->AssociatedIrp.SystemBuffer;
  VportSerialReply reply;
  VportSerialResult result;
  ULONG mask;
  KIRQL irql;
  Serve(port);
  if (code == VPORT_SERIAL_WAIT_ON_MASK) return WaitOnMask(port, irp, outLength);
  if (buffer == NULL) inLength = outLength = 0;
  KeAcquireSpinLock(&port->lock, &irql);
  port->serial.lineUp = LinkStateOf(port) == VPORT_LINK_CONNECTED;
  result = VportSerialRequest(&port->serial, code, buffer, inLength, buffer, outLength, &reply);
  mask = port->serial.waitMask;
  KeReleaseSpinLock(&port->lock, irql);
  /* A new mask ends the wait on the old one, with no event, and the data
   * service forgets the events it kept for the next wait. */
  if (result == VPORT_SERIAL_DONE && code == VPORT_SERIAL_SET_WAIT_MASK) {
    BridgeEndWaits(port->comNumber);
    BridgeNotify(VPORT_BRIDGE_MASK, port->comNumber, NULL, mask);
  }
  if (result == VPORT_SERIAL_DONE && reply.purge != 0) Purge(port, reply.purge);
  switch (result) {
    case VPORT_SERIAL_DONE:
      return Complete(irp, STATUS_SUCCESS, reply.written);
    case VPORT_SERIAL_BAD_PARAMETER:
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    case VPORT_SERIAL_BUFFER_TOO_SMALL:
      return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static NTSTATUS DeviceControl(PortExtension* port, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;

  if (IsRemoved(port)) return Complete(irp, STATUS_DELETE_PENDING, 0);
  if (!IsOwner(port, irp)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
  if (IsManagerRequest(code)) {
    UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR information = 0;
    NTSTATUS status = ManagerRequest(port, code, buffer, inLength, buffer, outLength, &information);
    return Complete(irp, status, information);
  }
  if (VportIsSerialRequest(code)) return SerialControl(port, irp, code, inLength, outLength);
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  if (BridgeIsDevice(device)) return BridgeDispatch(device, irp);
  return UnderRemoveLock(device, irp, DeviceControl);
}

/* Reads and writes go to the data service over the bridge, with the
 * time-outs the program set; they wait there, not under the remove lock (a
 * port that goes away ends them). */
static NTSTATUS ReadWrite(PortExtension* port, PIRP irp) {
  ULONG kind = IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_WRITE ? VPORT_BRIDGE_WRITE
                                                                                : VPORT_BRIDGE_READ;
  ULONG timeouts[5];
  KIRQL irql;
  if (IsRemoved(port)) return Complete(irp, STATUS_DELETE_PENDING, 0);
  if (!IsOwner(port, irp)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
  Serve(port);
  KeAcquireSpinLock(&port->lock, &irql);
  timeouts[0] = port->serial.timeouts.readInterval;
  timeouts[1] = port->serial.timeouts.readTotalMultiplier;
  timeouts[2] = port->serial.timeouts.readTotalConstant;
  timeouts[3] = port->serial.timeouts.writeTotalMultiplier;
  timeouts[4] = port->serial.timeouts.writeTotalConstant;
  KeReleaseSpinLock(&port->lock, irql);
  return BridgeForward(irp, port->comNumber, kind, timeouts);
}

static NTSTATUS NTAPI DispatchReadWrite(PDEVICE_OBJECT device, PIRP irp) {
  if (BridgeIsDevice(device)) return BridgeDispatch(device, irp);
  return UnderRemoveLock(device, irp, ReadWrite);
}

static void NTAPI DriverUnload(PDRIVER_OBJECT driver) {
  (void)driver;
  BridgeStop();
}

/* The requests this driver serves. A table of addresses, kept in the image
 * (`used`: the compiler may fold the loop below) so that the image's
 * relocations cover it: the 64-bit image, whose code is all relative, would
 * otherwise carry none, and a loader that must move it (as Windows always
 * moves kernel images) could not. */
static const struct {
  UCHAR major;
  PDRIVER_DISPATCH dispatch;
} kDispatchTable[] __attribute__((used)) = {
    {IRP_MJ_CREATE, DispatchCreate},
    {IRP_MJ_CLOSE, DispatchClose},
    {IRP_MJ_CLEANUP, DispatchCleanup},
    {IRP_MJ_DEVICE_CONTROL, DispatchDeviceControl},
    {IRP_MJ_READ, DispatchReadWrite},
    {IRP_MJ_WRITE, DispatchReadWrite},
    {IRP_MJ_PNP, DispatchPnp},
    {IRP_MJ_POWER, DispatchPower},
    {IRP_MJ_SYSTEM_CONTROL, DispatchSystemControl},
};

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  (void)registryPath;
  KeInitializeSpinLock(&g_comLock);
  /* Without the bridge the ports still keep their settings; their reads and
   * writes then find no service and say so. */
  BridgeStart(driver);
  for (ULONG i = 0; i < sizeof kDispatchTable / sizeof kDispatchTable[0]; ++i) {
    driver->MajorFunction[kDispatchTable[i].major] = kDispatchTable[i].dispatch;
  }
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = DriverUnload;
  return STATUS_SUCCESS;
}
