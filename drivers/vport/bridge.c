/* The bridge device: the data service waits on it for the ports' requests
 * (NEXT) and answers the reads (COMPLETE). The driver itself keeps no data: a
 * write is done once its bytes are in the service's hands, a read once the
 * service answered it, and both can be cancelled while they wait. */
#include "bridge.h"

#include "bridge_records.h"

/* Tag of the bridge's allocations: "QVbr" as it shows in memory. */
#define BRIDGE_TAG 0x72625651u
#define NOTICE_CAPACITY 64

/* What the bridge keeps of a port request while it waits. */
typedef struct Held {
  ULONG id;
  ULONG kind;
  ULONG comNumber;
  ULONG length; /* bytes written, or bytes the read wants */
  ULONG handed; /* bytes of a write the service has already taken */
  ULONG timeouts[5];
} Held;

typedef struct Notice {
  ULONG kind;
  ULONG comNumber;
} Notice;

static PDEVICE_OBJECT g_device;
static UNICODE_STRING g_link;
static BOOLEAN g_linkMade;
static KSPIN_LOCK g_lock;    /* guards everything below */
static LIST_ENTRY g_waiting; /* the service's NEXT requests */
static LIST_ENTRY g_queued;  /* port requests not yet handed over */
static LIST_ENTRY g_handed;  /* reads handed over, waiting for their answer */
static Notice g_notices[NOTICE_CAPACITY];
static ULONG g_noticeFirst, g_noticeCount;
static LONG g_services; /* open handles on the bridge device */
static ULONG g_nextId;

#define HELD(irp) ((Held*)(irp)->Tail.Overlay.DriverContext[0])
#define ENTRY(irp) (&(irp)->Tail.Overlay.ListEntry)
#define IRP_OF(entry) CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry)

static NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Ends a port request the bridge held. */
static void FinishHeld(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  ExFreePoolWithTag(HELD(irp), BRIDGE_TAG);
  irp->Tail.Overlay.DriverContext[0] = NULL;
  Finish(irp, status, information);
}

static VOID NTAPI CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
  KIRQL irql;
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&g_lock, &irql);
  RemoveEntryList(ENTRY(irp));
  KeReleaseSpinLock(&g_lock, irql);
  if (HELD(irp) != NULL)
    FinishHeld(irp, STATUS_CANCELLED, 0);
  else
    Finish(irp, STATUS_CANCELLED, 0);
}

/* Puts a request on a list where it may be cancelled; under g_lock. FALSE when
 * it was cancelled already (it is not on the list then). */
static BOOLEAN Hold(LIST_ENTRY* list, PIRP irp, BOOLEAN atHead) {
  IoSetCancelRoutine(irp, CancelHeld);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) return FALSE;
  if (atHead)
    InsertHeadList(list, ENTRY(irp));
  else
    InsertTailList(list, ENTRY(irp));
  return TRUE;
}

/* Takes the first request off a list that is not being cancelled; under
 * g_lock. A request whose cancel routine already runs stays for it to take. */
static PIRP TakeFirst(LIST_ENTRY* list) {
  LIST_ENTRY* entry;
  for (entry = list->Flink; entry != list; entry = entry->Flink) {
    PIRP irp = IRP_OF(entry);
    if (IoSetCancelRoutine(irp, NULL) != NULL) {
      RemoveEntryList(entry);
      return irp;
    }
  }
  return NULL;
}

/* Fills a NEXT request's buffer from a notice. */
static ULONG_PTR WriteNotice(PIRP next, const Notice* notice) {
  VportBridgeRequest request;
  RtlZeroMemory(&request, sizeof request);
  request.kind = notice->kind;
  request.comNumber = notice->comNumber;
  return VportWriteBridgeRequest(
      &request, (uint8_t*)next->AssociatedIrp.SystemBuffer,
      IoGetCurrentIrpStackLocation(next)->Parameters.DeviceIoControl.OutputBufferLength);
}

/* Fills a NEXT request's buffer from a port request: a read's header, or a
 * write's header and as many of its bytes as fit. Returns the bytes filled;
 * `*done` says whether the port request is now fully handed over. */
static ULONG_PTR WriteHanded(PIRP next, PIRP irp, BOOLEAN* done) {
  Held* held = HELD(irp);
  uint8_t* out = (uint8_t*)next->AssociatedIrp.SystemBuffer;
  ULONG capacity = IoGetCurrentIrpStackLocation(next)->Parameters.DeviceIoControl.OutputBufferLength;
  VportBridgeRequest request;
  ULONG room = capacity - VPORT_BRIDGE_HEADER_SIZE, part = 0, i;
  RtlZeroMemory(&request, sizeof request);
  request.id = held->id;
  request.kind = held->kind;
  request.comNumber = held->comNumber;
  for (i = 0; i < 5; ++i) request.timeouts[i] = held->timeouts[i];
  if (held->kind == VPORT_BRIDGE_WRITE) {
    part = held->length - held->handed;
    if (part > room) part = room;
    request.length = part;
    RtlCopyMemory(out + VPORT_BRIDGE_HEADER_SIZE,
                  (const uint8_t*)irp->AssociatedIrp.SystemBuffer + held->handed, part);
    held->handed += part;
    *done = held->handed == held->length;
  } else {
    request.length = held->length;
    *done = TRUE;
  }
  VportWriteBridgeRequest(&request, out, capacity);
  return VPORT_BRIDGE_HEADER_SIZE + part;
}

/* Ends a port request that is no longer held after handing over: a write
 * with the bytes the service took (all of them, unless it was cancelled half
 * way), a read as cancelled. */
static void FinishAfterHanding(PIRP irp) {
  Held* held = HELD(irp);
  if (held->kind == VPORT_BRIDGE_WRITE && held->handed > 0)
    FinishHeld(irp, STATUS_SUCCESS, held->handed);
  else
    FinishHeld(irp, STATUS_CANCELLED, 0);
}

/* After a port request went (in part) to a NEXT request, under g_lock: a
 * finished write is returned for completion, a read waits for its answer, a
 * write with bytes left goes back to the head of the queue. */
static PIRP AfterHanding(PIRP irp, BOOLEAN done) {
  if (HELD(irp)->kind == VPORT_BRIDGE_READ) {
    if (!Hold(&g_handed, irp, FALSE)) return irp; /* cancelled meanwhile: completed by the caller */
    return NULL;
  }
  if (done) return irp;
  if (!Hold(&g_queued, irp, TRUE)) return irp;
  return NULL;
}

static NTSTATUS Next(PIRP next) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(next);
  KIRQL irql;
  PIRP irp = NULL, finished = NULL;
  BOOLEAN done = FALSE;
  ULONG_PTR filled;
  if (stack->Parameters.DeviceIoControl.OutputBufferLength <= VPORT_BRIDGE_HEADER_SIZE)
    return Finish(next, STATUS_BUFFER_TOO_SMALL, 0);
  KeAcquireSpinLock(&g_lock, &irql);
  if (g_noticeCount > 0) {
    Notice notice = g_notices[g_noticeFirst];
    g_noticeFirst = (g_noticeFirst + 1) % NOTICE_CAPACITY;
    --g_noticeCount;
    KeReleaseSpinLock(&g_lock, irql);
    return Finish(next, STATUS_SUCCESS, WriteNotice(next, &notice));
  }
  irp = TakeFirst(&g_queued);
  if (irp == NULL) {
    next->Tail.Overlay.DriverContext[0] = NULL; /* holds no port request */
    if (!Hold(&g_waiting, next, FALSE)) {
      KeReleaseSpinLock(&g_lock, irql);
      return Finish(next, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(next);
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_PENDING;
  }
  filled = WriteHanded(next, irp, &done);
  finished = AfterHanding(irp, done);
  KeReleaseSpinLock(&g_lock, irql);
  if (finished != NULL) FinishAfterHanding(finished);
  return Finish(next, STATUS_SUCCESS, filled);
}

/* A read's answer: its bytes (no more than the read asked for) go to the
 * program. An answer to a read that is gone (cancelled, or its program closed
 * the port) ends with STATUS_NOT_FOUND: the service keeps those bytes. */
static NTSTATUS Answer(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  VportBridgeAnswer answer;
  LIST_ENTRY* entry;
  PIRP read = NULL;
  KIRQL irql;
  ULONG length;
  if (!VportReadBridgeAnswer((const uint8_t*)irp->AssociatedIrp.SystemBuffer,
                             stack->Parameters.DeviceIoControl.InputBufferLength, &answer))
    return Finish(irp, STATUS_INVALID_PARAMETER, 0);
  KeAcquireSpinLock(&g_lock, &irql);
  for (entry = g_handed.Flink; entry != &g_handed; entry = entry->Flink) {
    PIRP candidate = IRP_OF(entry);
    if (HELD(candidate)->id == answer.id) {
      if (IoSetCancelRoutine(candidate, NULL) != NULL) {
        RemoveEntryList(entry);
        read = candidate;
      }
      break;
    }
  }
  KeReleaseSpinLock(&g_lock, irql);
  if (read == NULL) return Finish(irp, STATUS_NOT_FOUND, 0);
  if (answer.status != 0) {
    FinishHeld(read, (NTSTATUS)answer.status, 0);
    return Finish(irp, STATUS_SUCCESS, 0);
  }
  length = answer.length < HELD(read)->length ? answer.length : HELD(read)->length;
  RtlCopyMemory(read->AssociatedIrp.SystemBuffer, answer.data, length);
  FinishHeld(read, STATUS_SUCCESS, length);
  return Finish(irp, STATUS_SUCCESS, 0);
}

/* Takes every request matching `file` or `comNumber` off a list; under g_lock. */
static void TakeMatching(LIST_ENTRY* list, PFILE_OBJECT file, ULONG comNumber, LIST_ENTRY* into) {
  LIST_ENTRY* entry = list->Flink;
  while (entry != list) {
    PIRP irp = IRP_OF(entry);
    LIST_ENTRY* following = entry->Flink;
    BOOLEAN match = file != NULL ? IoGetCurrentIrpStackLocation(irp)->FileObject == file
                                 : HELD(irp) != NULL && HELD(irp)->comNumber == comNumber;
    if (match && IoSetCancelRoutine(irp, NULL) != NULL) {
      RemoveEntryList(entry);
      InsertTailList(into, entry);
    }
    entry = following;
  }
}

static void Drop(PFILE_OBJECT file, ULONG comNumber, NTSTATUS status, BOOLEAN waitingToo) {
  LIST_ENTRY ended;
  KIRQL irql;
  InitializeListHead(&ended);
  KeAcquireSpinLock(&g_lock, &irql);
  TakeMatching(&g_queued, file, comNumber, &ended);
  TakeMatching(&g_handed, file, comNumber, &ended);
  if (waitingToo) TakeMatching(&g_waiting, file, comNumber, &ended);
  KeReleaseSpinLock(&g_lock, irql);
  while (!IsListEmpty(&ended)) {
    PIRP irp = IRP_OF(RemoveHeadList(&ended));
    if (HELD(irp) != NULL)
      FinishHeld(irp, status, 0);
    else
      Finish(irp, status, 0);
  }
}

void BridgeDropFile(PFILE_OBJECT file, NTSTATUS status) {
  Drop(file, 0, status, FALSE);
}
void BridgeDropPort(ULONG comNumber, NTSTATUS status) {
  Drop(NULL, comNumber, status, FALSE);
}

void BridgeNotify(ULONG kind, ULONG comNumber) {
  Notice notice;
  PIRP next;
  KIRQL irql;
  notice.kind = kind;
  notice.comNumber = comNumber;
  KeAcquireSpinLock(&g_lock, &irql);
  if (g_services == 0) {
    KeReleaseSpinLock(&g_lock, irql);
    return;
  }
  next = TakeFirst(&g_waiting);
  if (next == NULL && g_noticeCount < NOTICE_CAPACITY) {
    g_notices[(g_noticeFirst + g_noticeCount) % NOTICE_CAPACITY] = notice;
    ++g_noticeCount;
  }
  KeReleaseSpinLock(&g_lock, irql);
  if (next != NULL) Finish(next, STATUS_SUCCESS, WriteNotice(next, &notice));
}

NTSTATUS BridgeForward(PIRP irp, ULONG comNumber, ULONG kind, const ULONG* timeouts) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG length = kind == VPORT_BRIDGE_WRITE ? stack->Parameters.Write.Length : stack->Parameters.Read.Length;
  Held* held;
  PIRP next, finished = NULL;
  KIRQL irql;
  BOOLEAN done = FALSE;
  ULONG i;
  irp->Tail.Overlay.DriverContext[0] = NULL;
  if (length == 0) return Finish(irp, STATUS_SUCCESS, 0);
  /* No service: nothing would ever carry the bytes, so the program hears so at once. */
  if (InterlockedCompareExchange(&g_services, 0, 0) == 0) return Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  held = (Held*)ExAllocatePoolWithTag(NonPagedPool, sizeof(Held), BRIDGE_TAG);
  if (held == NULL) return Finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  RtlZeroMemory(held, sizeof *held);
  held->kind = kind;
  held->comNumber = comNumber;
  held->length = length;
  for (i = 0; i < 5; ++i) held->timeouts[i] = timeouts[i];
  irp->Tail.Overlay.DriverContext[0] = held;
  IoMarkIrpPending(irp);

  KeAcquireSpinLock(&g_lock, &irql);
  held->id = ++g_nextId;
  next = TakeFirst(&g_waiting);
  if (next == NULL) {
    if (!Hold(&g_queued, irp, FALSE)) finished = irp;
  } else {
    ULONG_PTR filled = WriteHanded(next, irp, &done);
    finished = AfterHanding(irp, done);
    next->IoStatus.Information = filled;
  }
  KeReleaseSpinLock(&g_lock, irql);
  if (next != NULL) Finish(next, STATUS_SUCCESS, next->IoStatus.Information);
  if (finished != NULL) FinishAfterHanding(finished);
  return STATUS_PENDING;
}

/* A service handle goes: its waiting NEXT requests end (at cleanup, and again
 * at close for a platform that sends no cleanup). When the last one closed,
 * nothing carries the ports' bytes any more, and their waiting requests end. */
static NTSTATUS Close(PIRP irp, BOOLEAN closing) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  Drop(file, 0, STATUS_CANCELLED, TRUE);
  if (closing && InterlockedDecrement(&g_services) == 0) {
    LIST_ENTRY* lists[2] = {&g_queued, &g_handed};
    LIST_ENTRY ended;
    KIRQL irql;
    int i;
    InitializeListHead(&ended);
    KeAcquireSpinLock(&g_lock, &irql);
    for (i = 0; i < 2; ++i) {
      PIRP irp2;
      while ((irp2 = TakeFirst(lists[i])) != NULL) InsertTailList(&ended, ENTRY(irp2));
    }
    g_noticeCount = 0;
    KeReleaseSpinLock(&g_lock, irql);
    while (!IsListEmpty(&ended)) FinishHeld(IRP_OF(RemoveHeadList(&ended)), STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  return Finish(irp, STATUS_SUCCESS, 0);
}

NTSTATUS BridgeDispatch(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      InterlockedIncrement(&g_services);
      return Finish(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
      return Close(irp, FALSE);
    case IRP_MJ_CLOSE:
      return Close(irp, TRUE);
    case IRP_MJ_DEVICE_CONTROL:
      switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case VPORT_BRIDGE_NEXT:
          return Next(irp);
        case VPORT_BRIDGE_COMPLETE:
          return Answer(irp);
        default:
          return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
      }
    default:
      return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

BOOLEAN BridgeIsDevice(PDEVICE_OBJECT device) {
  return device != NULL && device == g_device;
}

NTSTATUS BridgeStart(PDRIVER_OBJECT driver) {
  UNICODE_STRING name;
  NTSTATUS status;
  KeInitializeSpinLock(&g_lock);
  InitializeListHead(&g_waiting);
  InitializeListHead(&g_queued);
  InitializeListHead(&g_handed);
  RtlInitUnicodeString(&name, L"\\Device\\QnVportBridge");
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_device);
  if (!NT_SUCCESS(status)) return status;
  g_device->Flags |= DO_BUFFERED_IO;
  RtlInitUnicodeString(&g_link, L"\\DosDevices\\QnVportBridge");
  g_linkMade = NT_SUCCESS(IoCreateSymbolicLink(&g_link, &name));
  g_device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

void BridgeStop(void) {
  if (g_linkMade) IoDeleteSymbolicLink(&g_link);
  g_linkMade = FALSE;
  if (g_device != NULL) IoDeleteDevice(g_device);
  g_device = NULL;
}
