/* The bridge device: the data service waits on it for the ports' requests
 * (NEXT), answers reads and writes (COMPLETE) and reports link states
 * (STATE). The driver itself keeps no data: a write is done once the service
 * accepted its bytes, a read once the service answered it, and both can be
 * cancelled while they wait.
 *
 * Requests wait on three lists: the service's NEXT requests, port requests
 * not yet handed over, and port requests handed over and waiting for their
 * answer. Pump() pairs waiting NEXT requests with notices and port requests. */
#include "bridge.h"

#include "bridge_records.h"
#include "le_fields.h"

/* Tag of the bridge's allocations: "QVbr" as it shows in memory. */
#define BRIDGE_TAG 0x72625651u
#define NOTICE_CAPACITY 64

/* What the bridge keeps of a port request while it waits. */
typedef struct Held {
  ULONG id;
  ULONG kind;
  ULONG comNumber;
  ULONG length;   /* bytes written, or bytes the read wants */
  ULONG handed;   /* bytes of a write handed over so far */
  ULONG piece;    /* bytes of the write piece waiting for its answer */
  ULONG accepted; /* bytes of a write the service accepted */
  ULONG timeouts[5];
} Held;

typedef struct Notice {
  ULONG kind;
  ULONG comNumber;
  ULONG flags;
  UCHAR settings[VPORT_BRIDGE_SETTINGS_SIZE];
} Notice;

static PDEVICE_OBJECT g_device;
static UNICODE_STRING g_link;
static BOOLEAN g_linkMade;
static KSPIN_LOCK g_lock;    /* guards everything below */
static LIST_ENTRY g_waiting; /* the service's NEXT requests */
static LIST_ENTRY g_queued;  /* port requests (or the rest of a write) not yet handed over */
static LIST_ENTRY g_handed;  /* port requests handed over, waiting for their answer */
static Notice g_notices[NOTICE_CAPACITY];
static ULONG g_noticeFirst, g_noticeCount;
static LONG g_services; /* bridge handles that asked for the ports' requests (CountAsService) */
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

/* Ends a request: a port request with what the bridge kept of it freed. */
static void FinishAny(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  Held* held = HELD(irp);
  irp->Tail.Overlay.DriverContext[0] = NULL;
  if (held != NULL) ExFreePoolWithTag(held, BRIDGE_TAG);
  Finish(irp, status, information);
}

/* Ends a write with what the service accepted: an error after some bytes went
 * as done, and a success status (a time-out is one) as it is, with the count. */
static void FinishWrite(PIRP irp, NTSTATUS status) {
  ULONG accepted = HELD(irp)->accepted;
  if (accepted > 0 && !NT_SUCCESS(status)) status = STATUS_SUCCESS;
  FinishAny(irp, status, accepted);
}

/* Ends a cancelled request: a write with the bytes already accepted. */
static void EndCancelled(PIRP irp) {
  if (HELD(irp) != NULL && HELD(irp)->kind == VPORT_BRIDGE_WRITE)
    FinishWrite(irp, STATUS_CANCELLED);
  else
    FinishAny(irp, STATUS_CANCELLED, 0);
}

static VOID NTAPI CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
  KIRQL irql;
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&g_lock, &irql);
  RemoveEntryList(ENTRY(irp));
  KeReleaseSpinLock(&g_lock, irql);
  EndCancelled(irp);
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

static ULONG NextCapacity(PIRP next) {
  return IoGetCurrentIrpStackLocation(next)->Parameters.DeviceIoControl.OutputBufferLength;
}

/* Fills a NEXT request's buffer from a notice; returns the bytes filled. */
static ULONG_PTR WriteNotice(PIRP next, const Notice* notice) {
  uint8_t* out = (uint8_t*)next->AssociatedIrp.SystemBuffer;
  VportBridgeRequest request;
  ULONG payload = notice->kind == VPORT_BRIDGE_CLOSE ? 0 : VPORT_BRIDGE_SETTINGS_SIZE;
  RtlZeroMemory(&request, sizeof request);
  request.kind = notice->kind;
  request.comNumber = notice->comNumber;
  request.flags = notice->flags;
  request.length = payload;
  VportWriteBridgeRequest(&request, out, NextCapacity(next));
  RtlCopyMemory(out + VPORT_BRIDGE_HEADER_SIZE, notice->settings, payload);
  return VPORT_BRIDGE_HEADER_SIZE + payload;
}

/* Fills a NEXT request's buffer from a port request: a read's header, or a
 * write's header and its next piece, as much as fits. Returns the bytes filled. */
static ULONG_PTR WriteHanded(PIRP next, PIRP irp) {
  Held* held = HELD(irp);
  uint8_t* out = (uint8_t*)next->AssociatedIrp.SystemBuffer;
  ULONG room = NextCapacity(next) - VPORT_BRIDGE_HEADER_SIZE, i;
  VportBridgeRequest request;
  RtlZeroMemory(&request, sizeof request);
  request.id = held->id;
  request.kind = held->kind;
  request.comNumber = held->comNumber;
  for (i = 0; i < 5; ++i) request.timeouts[i] = held->timeouts[i];
  request.length = held->length;
  if (held->kind == VPORT_BRIDGE_WRITE) {
    held->piece = held->length - held->handed;
    if (held->piece > room) held->piece = room;
    request.length = held->piece;
    RtlCopyMemory(out + VPORT_BRIDGE_HEADER_SIZE,
                  (const uint8_t*)irp->AssociatedIrp.SystemBuffer + held->handed, held->piece);
    held->handed += held->piece;
  }
  VportWriteBridgeRequest(&request, out, NextCapacity(next));
  return VPORT_BRIDGE_HEADER_SIZE + (held->kind == VPORT_BRIDGE_WRITE ? held->piece : 0);
}

/* Pairs waiting NEXT requests with notices, then with port requests; under
 * g_lock. The filled NEXT requests (Information set) and port requests
 * cancelled on the way go to `done`, to be ended outside the lock. */
static void Pump(LIST_ENTRY* done) {
  while (!IsListEmpty(&g_waiting) && (g_noticeCount > 0 || !IsListEmpty(&g_queued))) {
    PIRP next = TakeFirst(&g_waiting), irp = NULL;
    if (next == NULL) return; /* every waiting NEXT is being cancelled */
    if (g_noticeCount > 0) {
      next->IoStatus.Information = WriteNotice(next, &g_notices[g_noticeFirst]);
      g_noticeFirst = (g_noticeFirst + 1) % NOTICE_CAPACITY;
      --g_noticeCount;
    } else if ((irp = TakeFirst(&g_queued)) != NULL) {
      next->IoStatus.Information = WriteHanded(next, irp);
      if (!Hold(&g_handed, irp, FALSE)) InsertTailList(done, ENTRY(irp));
    } else {
      if (!Hold(&g_waiting, next, TRUE)) InsertTailList(done, ENTRY(next));
      return;
    }
    InsertTailList(done, ENTRY(next));
  }
}

/* Ends what Pump() collected: filled NEXT requests with success, port
 * requests cancelled on the way as cancelled. */
static void EndCollected(LIST_ENTRY* done) {
  while (!IsListEmpty(done)) {
    PIRP irp = IRP_OF(RemoveHeadList(done));
    if (HELD(irp) != NULL)
      EndCancelled(irp);
    else if (irp->Cancel && irp->IoStatus.Information == 0)
      Finish(irp, STATUS_CANCELLED, 0);
    else
      Finish(irp, STATUS_SUCCESS, irp->IoStatus.Information);
  }
}

/* Runs Pump() under the lock and ends what it collected outside it. */
static void PumpAndEnd(void) {
  LIST_ENTRY done;
  KIRQL irql;
  InitializeListHead(&done);
  KeAcquireSpinLock(&g_lock, &irql);
  Pump(&done);
  KeReleaseSpinLock(&g_lock, irql);
  EndCollected(&done);
}

/* A handle is a service from its first NEXT on: its file object is marked
 * then, and only a marked handle takes the count down again at close. A
 * handle that only asks for link states (the port manager's) never counts,
 * so ports without a service still refuse their bytes at once. */
static void CountAsService(PFILE_OBJECT file) {
  if (file != NULL && InterlockedCompareExchangePointer(&file->FsContext, &g_services, NULL) == NULL)
    InterlockedIncrement(&g_services);
}

static BOOLEAN CountedAsService(PFILE_OBJECT file) {
  return file != NULL && file->FsContext == (PVOID)&g_services;
}

static NTSTATUS Next(PIRP next) {
  KIRQL irql;
  BOOLEAN held;
  if (NextCapacity(next) <= VPORT_BRIDGE_HEADER_SIZE + VPORT_BRIDGE_SETTINGS_SIZE)
    return Finish(next, STATUS_BUFFER_TOO_SMALL, 0);
  CountAsService(IoGetCurrentIrpStackLocation(next)->FileObject);
  next->Tail.Overlay.DriverContext[0] = NULL; /* holds no port request */
  next->IoStatus.Information = 0;
  IoMarkIrpPending(next);
  KeAcquireSpinLock(&g_lock, &irql);
  held = Hold(&g_waiting, next, FALSE);
  KeReleaseSpinLock(&g_lock, irql);
  if (!held)
    Finish(next, STATUS_CANCELLED, 0);
  else
    PumpAndEnd();
  return STATUS_PENDING;
}

/* The handed-over request an answer names, taken off its list; NULL when it
 * is gone (cancelled, or its program closed the port). Under g_lock. */
static PIRP TakeHanded(ULONG id) {
  LIST_ENTRY* entry;
  for (entry = g_handed.Flink; entry != &g_handed; entry = entry->Flink) {
    PIRP candidate = IRP_OF(entry);
    if (HELD(candidate)->id != id) continue;
    if (IoSetCancelRoutine(candidate, NULL) == NULL) return NULL;
    RemoveEntryList(entry);
    return candidate;
  }
  return NULL;
}

/* A read's bytes (no more than it asked for, or than the answer holds) go to
 * the program; a wait's answer is its 4 bytes of events. */
static void AnswerRead(PIRP read, const VportBridgeAnswer* answer) {
  ULONG wanted = HELD(read)->kind == VPORT_BRIDGE_WAIT ? 4 : HELD(read)->length;
  ULONG length = answer->length < wanted ? answer->length : wanted;
  if (length > answer->dataLength) length = answer->dataLength;
  if (answer->status != 0) {
    FinishAny(read, (NTSTATUS)answer->status, 0);
    return;
  }
  RtlCopyMemory(read->AssociatedIrp.SystemBuffer, answer->data, length);
  FinishAny(read, STATUS_SUCCESS, length);
}

/* A write piece's answer: the write goes on with its next piece, or ends with
 * what was accepted when it is all accepted, refused, or accepted in part. */
static void AnswerWrite(PIRP write, const VportBridgeAnswer* answer) {
  Held* held = HELD(write);
  ULONG accepted = answer->length < held->piece ? answer->length : held->piece;
  KIRQL irql;
  BOOLEAN queued;
  held->accepted += accepted;
  if (answer->status != 0 || accepted < held->piece || held->handed == held->length) {
    FinishWrite(write, answer->status != 0 ? (NTSTATUS)answer->status : STATUS_SUCCESS);
    return;
  }
  KeAcquireSpinLock(&g_lock, &irql);
  queued = Hold(&g_queued, write, TRUE);
  KeReleaseSpinLock(&g_lock, irql);
  if (!queued)
    FinishWrite(write, STATUS_CANCELLED);
  else
    PumpAndEnd();
}

/* An answer to a request that is gone ends with STATUS_NOT_FOUND: the service
 * keeps the bytes of such a read. */
static NTSTATUS Answer(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  VportBridgeAnswer answer;
  PIRP handed;
  KIRQL irql;
  if (!VportReadBridgeAnswer((const uint8_t*)irp->AssociatedIrp.SystemBuffer,
                             stack->Parameters.DeviceIoControl.InputBufferLength, &answer))
    return Finish(irp, STATUS_INVALID_PARAMETER, 0);
  KeAcquireSpinLock(&g_lock, &irql);
  handed = TakeHanded(answer.id);
  KeReleaseSpinLock(&g_lock, irql);
  if (handed == NULL) return Finish(irp, STATUS_NOT_FOUND, 0);
  if (HELD(handed)->kind == VPORT_BRIDGE_WRITE)
    AnswerWrite(handed, &answer);
  else
    AnswerRead(handed, &answer);
  return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS ReportState(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const uint8_t* in = (const uint8_t*)irp->AssociatedIrp.SystemBuffer;
  ULONG comNumber, state;
  if (stack->Parameters.DeviceIoControl.InputBufferLength < VPORT_BRIDGE_STATE_SIZE)
    return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
  comNumber = VportReadLe32(in);
  state = VportReadLe32(in + 4);
  if (state > VPORT_BRIDGE_LINK_RECONNECTING) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
  return Finish(irp, VportSetLinkState(comNumber, state) ? STATUS_SUCCESS : STATUS_NOT_FOUND, 0);
}

/* Anyone who opened the bridge may ask a port's link state: the COM number
 * in, the state out. */
static NTSTATUS QueryState(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  uint8_t* buffer = (uint8_t*)irp->AssociatedIrp.SystemBuffer;
  ULONG state;
  if (stack->Parameters.DeviceIoControl.InputBufferLength < VPORT_BRIDGE_QUERY_SIZE ||
      stack->Parameters.DeviceIoControl.OutputBufferLength < VPORT_BRIDGE_QUERY_SIZE)
    return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
  if (!VportGetLinkState(VportReadLe32(buffer), &state)) return Finish(irp, STATUS_NOT_FOUND, 0);
  VportWriteLe32(buffer, state);
  return Finish(irp, STATUS_SUCCESS, VPORT_BRIDGE_QUERY_SIZE);
}

/* Takes every request matching `file` or `comNumber` (and `kind`, unless 0)
 * off a list; under g_lock. */
static void TakeMatching(LIST_ENTRY* list, PFILE_OBJECT file, ULONG comNumber, ULONG kind, LIST_ENTRY* into) {
  LIST_ENTRY* entry = list->Flink;
  while (entry != list) {
    PIRP irp = IRP_OF(entry);
    LIST_ENTRY* following = entry->Flink;
    BOOLEAN match = file != NULL ? IoGetCurrentIrpStackLocation(irp)->FileObject == file
                                 : HELD(irp) != NULL && HELD(irp)->comNumber == comNumber;
    if (kind != 0 && (HELD(irp) == NULL || HELD(irp)->kind != kind)) match = FALSE;
    if (match && IoSetCancelRoutine(irp, NULL) != NULL) {
      RemoveEntryList(entry);
      InsertTailList(into, entry);
    }
    entry = following;
  }
}

static void EndAll(LIST_ENTRY* ended, NTSTATUS status) {
  while (!IsListEmpty(ended)) {
    PIRP irp = IRP_OF(RemoveHeadList(ended));
    if (HELD(irp) != NULL && HELD(irp)->kind == VPORT_BRIDGE_WRITE)
      FinishWrite(irp, status);
    else
      FinishAny(irp, status, 0);
  }
}

static void Drop(PFILE_OBJECT file, ULONG comNumber, NTSTATUS status, BOOLEAN waitingToo) {
  LIST_ENTRY ended;
  KIRQL irql;
  InitializeListHead(&ended);
  KeAcquireSpinLock(&g_lock, &irql);
  TakeMatching(&g_queued, file, comNumber, 0, &ended);
  TakeMatching(&g_handed, file, comNumber, 0, &ended);
  if (waitingToo) TakeMatching(&g_waiting, file, comNumber, 0, &ended);
  KeReleaseSpinLock(&g_lock, irql);
  EndAll(&ended, status);
}

void BridgeDropFile(PFILE_OBJECT file, NTSTATUS status) {
  Drop(file, 0, status, FALSE);
}
void BridgeDropPort(ULONG comNumber, NTSTATUS status) {
  Drop(NULL, comNumber, status, FALSE);
}

void BridgeNotify(ULONG kind, ULONG comNumber, const UCHAR* settings, ULONG flags) {
  Notice* notice;
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  /* Nobody to tell, or the service is far behind: it reads the port's state
   * afresh with the next open or settings notice. */
  if (g_services == 0 || g_noticeCount == NOTICE_CAPACITY) {
    KeReleaseSpinLock(&g_lock, irql);
    return;
  }
  notice = &g_notices[(g_noticeFirst + g_noticeCount) % NOTICE_CAPACITY];
  RtlZeroMemory(notice, sizeof *notice);
  notice->kind = kind;
  notice->comNumber = comNumber;
  notice->flags = flags;
  if (settings != NULL) RtlCopyMemory(notice->settings, settings, VPORT_BRIDGE_SETTINGS_SIZE);
  ++g_noticeCount;
  KeReleaseSpinLock(&g_lock, irql);
  PumpAndEnd();
}

static NTSTATUS Forward(PIRP irp, ULONG comNumber, ULONG kind, ULONG length, const ULONG* timeouts);

NTSTATUS BridgeForward(PIRP irp, ULONG comNumber, ULONG kind, const ULONG* timeouts) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG length = kind == VPORT_BRIDGE_WRITE ? stack->Parameters.Write.Length : stack->Parameters.Read.Length;
  return Forward(irp, comNumber, kind, length, timeouts);
}

NTSTATUS BridgeForwardWait(PIRP irp, ULONG comNumber, ULONG mask) {
  static const ULONG none[5] = {0, 0, 0, 0, 0};
  return Forward(irp, comNumber, VPORT_BRIDGE_WAIT, mask, none);
}

void BridgeEndWaits(ULONG comNumber) {
  LIST_ENTRY waits;
  KIRQL irql;
  InitializeListHead(&waits);
  KeAcquireSpinLock(&g_lock, &irql);
  TakeMatching(&g_queued, NULL, comNumber, VPORT_BRIDGE_WAIT, &waits);
  TakeMatching(&g_handed, NULL, comNumber, VPORT_BRIDGE_WAIT, &waits);
  KeReleaseSpinLock(&g_lock, irql);
  while (!IsListEmpty(&waits)) {
    PIRP irp = IRP_OF(RemoveHeadList(&waits));
    RtlZeroMemory(irp->AssociatedIrp.SystemBuffer, 4);
    FinishAny(irp, STATUS_SUCCESS, 4);
  }
}

static NTSTATUS Forward(PIRP irp, ULONG comNumber, ULONG kind, ULONG length, const ULONG* timeouts) {
  Held* held;
  KIRQL irql;
  BOOLEAN queued;
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
  queued = Hold(&g_queued, irp, FALSE);
  KeReleaseSpinLock(&g_lock, irql);
  if (!queued)
    FinishAny(irp, STATUS_CANCELLED, 0);
  else
    PumpAndEnd();
  return STATUS_PENDING;
}

/* A bridge handle goes: its waiting NEXT requests end (at cleanup, and again
 * at close for a platform that sends no cleanup). When the last service
 * closed, nothing carries the ports' bytes any more, and their waiting
 * requests end. */
static NTSTATUS Close(PIRP irp, BOOLEAN closing) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  Drop(file, 0, STATUS_CANCELLED, TRUE);
  if (closing && CountedAsService(file) && InterlockedDecrement(&g_services) == 0) {
    LIST_ENTRY* lists[2] = {&g_queued, &g_handed};
    LIST_ENTRY ended;
    KIRQL irql;
    PIRP taken;
    int i;
    InitializeListHead(&ended);
    KeAcquireSpinLock(&g_lock, &irql);
    for (i = 0; i < 2; ++i)
      while ((taken = TakeFirst(lists[i])) != NULL) InsertTailList(&ended, ENTRY(taken));
    g_noticeCount = 0;
    KeReleaseSpinLock(&g_lock, irql);
    EndAll(&ended, STATUS_DEVICE_NOT_CONNECTED);
  }
  return Finish(irp, STATUS_SUCCESS, 0);
}

NTSTATUS BridgeDispatch(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
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
        case VPORT_BRIDGE_STATE:
          return ReportState(irp);
        case VPORT_BRIDGE_QUERY:
          return QueryState(irp);
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
