/* The bridge device: the data service waits on it for the ports' requests
 * (NEXT), answers reads and writes (COMPLETE) and reports link states
 * (STATE). A read is done once the service answered it. A write is done once
 * the service accepted its bytes, or at once while the port is connected and
 * the bytes fit in the port's write window: the bridge then keeps a copy (a
 * "done write") until it has handed it over, and the service takes such bytes
 * whatever its queue holds. That saves a program the wait for the service on
 * every write, as a serial port's transmit buffer does. The window bounds the
 * bytes of done writes the service has not yet given back (CREDIT, a few
 * kilobytes at a time), so a program that writes faster than the device takes
 * falls back to waiting.
 *
 * Requests wait on four lists: the service's NEXT requests, notices and done
 * writes in the order they came, port requests not yet handed over, and port
 * requests handed over and waiting for their answer. Pump() pairs waiting NEXT requests with notices and done
 * writes first, then with port requests. */
#include "bridge.h"

#include "bridge_records.h"
#include "bridge_security.h"
#include "le_fields.h"
#include "serial_requests.h"

/* Tag of the bridge's allocations: "QVbr" as it shows in memory. */
#define BRIDGE_TAG 0x72625651u
/* Mask and purge notices a port may have waiting for the service; a program
 * that sets masks or purges faster than the service takes them loses its own
 * oldest kind of those, never an open, close or settings notice of any port. */
#define PORT_NOTICE_CAPACITY 16
/* Ports with a write window: COM numbers below this; others always wait for the service. */
#define WINDOW_PORTS 256
/* Bytes of done writes a port may have with the service, not given back. */
#define WRITE_WINDOW (32u * 1024u)

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

/* A notice, or a done write with its bytes. */
typedef struct Ordered {
  LIST_ENTRY entry;
  ULONG kind; /* a notice's kind, or VPORT_BRIDGE_WRITE for a done write */
  ULONG comNumber;
  ULONG flags;
  ULONG length; /* done writes: its bytes */
  ULONG handed; /* bytes handed over so far */
  ULONG opening; /* open notices: the port's opening, which the service names again */
  UCHAR settings[VPORT_BRIDGE_SETTINGS_SIZE];
  UCHAR data[1]; /* done writes: `length` bytes */
} Ordered;

/* What the bridge knows of a port for its write window. */
typedef struct PortWindow {
  ULONG link;       /* as the service last reported it since the port was opened */
  ULONG unanswered; /* bytes of done writes the service has not given back */
  LONG waiting;     /* writes of the port waiting for the service */
  ULONG notices;    /* its mask and purge notices waiting for the service */
  ULONG opening;    /* the number of its current opening (VPORT_BRIDGE_OPENING_OFS) */
} PortWindow;

static PDEVICE_OBJECT g_device;
static UNICODE_STRING g_link;
static BOOLEAN g_linkMade;
static KSPIN_LOCK g_lock;    /* guards everything below */
static LIST_ENTRY g_waiting; /* the service's NEXT requests */
static LIST_ENTRY g_queued;  /* port requests (or the rest of a write) not yet handed over */
static LIST_ENTRY g_handed;  /* port requests handed over, waiting for their answer */
static LIST_ENTRY g_ordered; /* notices and done writes not yet (all) handed over, in order */
static PortWindow g_windows[WINDOW_PORTS];
static ULONG g_services;       /* bridge handles that asked for the ports' requests (CountAsService) */
static ULONG g_announcing;     /* a new service is being told the ports' state: nothing is handed over */
static LIST_ENTRY g_announced; /* what it is told, going ahead of everything in g_ordered */
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
  if (held != NULL && held->kind == VPORT_BRIDGE_WRITE && held->comNumber < WINDOW_PORTS)
    InterlockedDecrement(&g_windows[held->comNumber].waiting);
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
static ULONG_PTR WriteNotice(PIRP next, const Ordered* notice) {
  uint8_t* out = (uint8_t*)next->AssociatedIrp.SystemBuffer;
  VportBridgeRequest request;
  ULONG payload = notice->kind == VPORT_BRIDGE_CLOSE ? 0 : VPORT_BRIDGE_SETTINGS_SIZE;
  RtlZeroMemory(&request, sizeof request);
  request.id = notice->opening;
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
    request.total = held->length;
    request.offset = held->handed;
    RtlCopyMemory(out + VPORT_BRIDGE_HEADER_SIZE,
                  (const uint8_t*)irp->AssociatedIrp.SystemBuffer + held->handed, held->piece);
    held->handed += held->piece;
  }
  VportWriteBridgeRequest(&request, out, NextCapacity(next));
  return VPORT_BRIDGE_HEADER_SIZE + (held->kind == VPORT_BRIDGE_WRITE ? held->piece : 0);
}

/* Fills a NEXT request's buffer with the next piece of a done write, as much
 * as fits; one all handed over is gone. Under g_lock. */
static ULONG_PTR WriteDone(PIRP next, Ordered* write) {
  uint8_t* out = (uint8_t*)next->AssociatedIrp.SystemBuffer;
  ULONG room = NextCapacity(next) - VPORT_BRIDGE_HEADER_SIZE;
  ULONG piece = write->length - write->handed;
  VportBridgeRequest request;
  if (piece > room) piece = room;
  RtlZeroMemory(&request, sizeof request);
  request.kind = VPORT_BRIDGE_WRITE;
  request.comNumber = write->comNumber;
  request.length = piece;
  request.flags = VPORT_BRIDGE_FLAG_DONE;
  request.total = write->length;
  request.offset = write->handed;
  VportWriteBridgeRequest(&request, out, NextCapacity(next));
  RtlCopyMemory(out + VPORT_BRIDGE_HEADER_SIZE, write->data + write->handed, piece);
  write->handed += piece;
  if (write->handed == write->length) {
    RemoveEntryList(&write->entry);
    ExFreePoolWithTag(write, BRIDGE_TAG);
  }
  return VPORT_BRIDGE_HEADER_SIZE + piece;
}

/* Whether a notice counts against its port's PORT_NOTICE_CAPACITY. */
static BOOLEAN Bounded(const Ordered* record) {
  return (record->kind == VPORT_BRIDGE_MASK || record->kind == VPORT_BRIDGE_PURGE) &&
         record->comNumber < WINDOW_PORTS;
}

/* Frees a notice taken off g_ordered; under g_lock. */
static void Forget(Ordered* notice) {
  if (Bounded(notice)) --g_windows[notice->comNumber].notices;
  ExFreePoolWithTag(notice, BRIDGE_TAG);
}

/* Hands the first notice or done write over in `next`; under g_lock. */
static ULONG_PTR WriteOrdered(PIRP next) {
  Ordered* first = CONTAINING_RECORD(g_ordered.Flink, Ordered, entry);
  ULONG_PTR filled;
  if (first->kind == VPORT_BRIDGE_WRITE) return WriteDone(next, first);
  filled = WriteNotice(next, first);
  RemoveEntryList(&first->entry);
  Forget(first);
  return filled;
}

/* Whether a write of the port was handed in part and waits for its answer
 * before its next piece; under g_lock. */
static BOOLEAN WriteUnderway(ULONG comNumber) {
  LIST_ENTRY* entry;
  for (entry = g_handed.Flink; entry != &g_handed; entry = entry->Flink) {
    const Held* held = HELD(IRP_OF(entry));
    if (held->kind == VPORT_BRIDGE_WRITE && held->comNumber == comNumber && held->handed < held->length)
      return TRUE;
  }
  return FALSE;
}

/* Takes the first queued port request that may be handed over now, as
 * TakeFirst does; under g_lock. A write waits while an earlier write of its
 * port is handed in part: the service queues what it is handed in that
 * order, so the later write would go out in the middle of the earlier one. */
static PIRP TakeNextQueued(void) {
  LIST_ENTRY* entry;
  for (entry = g_queued.Flink; entry != &g_queued; entry = entry->Flink) {
    PIRP irp = IRP_OF(entry);
    if (HELD(irp)->kind == VPORT_BRIDGE_WRITE && WriteUnderway(HELD(irp)->comNumber)) continue;
    if (IoSetCancelRoutine(irp, NULL) != NULL) {
      RemoveEntryList(entry);
      return irp;
    }
  }
  return NULL;
}

/* Pairs waiting NEXT requests with notices and done writes, then with port
 * requests; under g_lock. The filled NEXT requests (Information set) and port
 * requests cancelled on the way go to `done`, to be ended outside the lock. */
static void Pump(LIST_ENTRY* done) {
  if (g_announcing != 0) return;
  while (!IsListEmpty(&g_waiting) && (!IsListEmpty(&g_ordered) || !IsListEmpty(&g_queued))) {
    PIRP next = TakeFirst(&g_waiting), irp = NULL;
    if (next == NULL) return; /* every waiting NEXT is being cancelled */
    if (!IsListEmpty(&g_ordered)) {
      next->IoStatus.Information = WriteOrdered(next);
    } else if ((irp = TakeNextQueued()) != NULL) {
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
 * so ports without a service still refuse their bytes at once. Under g_lock;
 * TRUE when it is the only service (none was there before it). */
static BOOLEAN CountAsService(PFILE_OBJECT file) {
  if (file == NULL || file->FsContext == (PVOID)&g_services) return FALSE;
  file->FsContext = &g_services;
  return ++g_services == 1;
}

static BOOLEAN CountedAsService(PFILE_OBJECT file) {
  return file != NULL && file->FsContext == (PVOID)&g_services;
}

void BridgeAnnounce(ULONG kind, ULONG comNumber, const UCHAR* settings, ULONG flags) {
  Ordered* notice = (Ordered*)ExAllocatePoolWithTag(NonPagedPool, sizeof(Ordered), BRIDGE_TAG);
  KIRQL irql;
  if (notice == NULL) return;
  RtlZeroMemory(notice, sizeof *notice);
  notice->kind = kind;
  notice->comNumber = comNumber;
  notice->flags = flags;
  RtlCopyMemory(notice->settings, settings, VPORT_BRIDGE_SETTINGS_SIZE);
  KeAcquireSpinLock(&g_lock, &irql);
  if (kind == VPORT_BRIDGE_OPEN && comNumber < WINDOW_PORTS) notice->opening = g_windows[comNumber].opening;
  InsertTailList(&g_announced, &notice->entry);
  KeReleaseSpinLock(&g_lock, irql);
}

/* A service came where none was: before it is handed anything, it hears
 * from the ports what a service that ran all along would know (the open
 * ports with their settings, the ports the manager connected). Notices made
 * meanwhile are queued behind that; nothing is handed over until it is. */
static void Announce(void) {
  KIRQL irql;
  VportTellService();
  KeAcquireSpinLock(&g_lock, &irql);
  while (!IsListEmpty(&g_announced)) InsertHeadList(&g_ordered, RemoveTailList(&g_announced));
  --g_announcing;
  KeReleaseSpinLock(&g_lock, irql);
}

static NTSTATUS Next(PIRP next) {
  KIRQL irql;
  BOOLEAN held, first;
  if (NextCapacity(next) <= VPORT_BRIDGE_HEADER_SIZE + VPORT_BRIDGE_SETTINGS_SIZE)
    return Finish(next, STATUS_BUFFER_TOO_SMALL, 0);
  next->Tail.Overlay.DriverContext[0] = NULL; /* holds no port request */
  next->IoStatus.Information = 0;
  IoMarkIrpPending(next);
  KeAcquireSpinLock(&g_lock, &irql);
  first = CountAsService(IoGetCurrentIrpStackLocation(next)->FileObject);
  if (first) ++g_announcing;
  KeReleaseSpinLock(&g_lock, irql);
  if (first) Announce();
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

/* A write piece's answer: its length is what the service has taken of the
 * whole write so far. TRUE when the write goes on with its next piece (all
 * handed so far taken, no status), FALSE when it ends. Under g_lock. */
static BOOLEAN WriteGoesOn(Held* held, const VportBridgeAnswer* answer) {
  held->accepted = answer->length < held->handed ? answer->length : held->handed;
  return answer->status == 0 && held->accepted == held->handed && held->handed < held->length;
}

/* A write piece's answer when the write ends, with what was taken
 * (FinishWrite): a success, or the time-out status, as it is; an error with
 * nothing taken is the refusal of the whole write; an error after some of it
 * was taken ends it a success with that much (those bytes go out). */
static void EndWrite(PIRP write, const VportBridgeAnswer* answer) {
  FinishWrite(write, answer->status != 0 ? (NTSTATUS)answer->status : STATUS_SUCCESS);
}

/* An answer to a request that is gone ends with STATUS_NOT_FOUND: the service
 * keeps the bytes of such a read. A write that goes on returns to the head of
 * the queue in the same step as it leaves the handed list, so that no later
 * write of its port is handed in between. */
static NTSTATUS Answer(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  VportBridgeAnswer answer;
  LIST_ENTRY done;
  PIRP handed;
  KIRQL irql;
  BOOLEAN goesOn = FALSE, cancelled = FALSE;
  if (!VportReadBridgeAnswer((const uint8_t*)irp->AssociatedIrp.SystemBuffer,
                             stack->Parameters.DeviceIoControl.InputBufferLength, &answer))
    return Finish(irp, STATUS_INVALID_PARAMETER, 0);
  InitializeListHead(&done);
  KeAcquireSpinLock(&g_lock, &irql);
  handed = TakeHanded(answer.id);
  if (handed != NULL && HELD(handed)->kind == VPORT_BRIDGE_WRITE && WriteGoesOn(HELD(handed), &answer)) {
    goesOn = Hold(&g_queued, handed, TRUE);
    cancelled = !goesOn;
    if (goesOn) Pump(&done);
  }
  KeReleaseSpinLock(&g_lock, irql);
  EndCollected(&done);
  if (handed == NULL) return Finish(irp, STATUS_NOT_FOUND, 0);
  if (cancelled)
    FinishWrite(handed, STATUS_CANCELLED);
  else if (!goesOn && HELD(handed)->kind == VPORT_BRIDGE_WRITE)
    EndWrite(handed, &answer);
  else if (!goesOn)
    AnswerRead(handed, &answer);
  return Finish(irp, STATUS_SUCCESS, 0);
}

/* Whether a link report or credit names an opening of the port before its
 * current one (VPORT_BRIDGE_OPENING_OFS); under g_lock. */
static BOOLEAN OfAnEarlierOpening(ULONG comNumber, const uint8_t* in, ULONG length) {
  ULONG opening = length >= VPORT_BRIDGE_TAGGED_SIZE ? VportReadLe32(in + VPORT_BRIDGE_OPENING_OFS) : 0;
  return opening != 0 && comNumber < WINDOW_PORTS && opening != g_windows[comNumber].opening;
}

static NTSTATUS ReportState(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const uint8_t* in = (const uint8_t*)irp->AssociatedIrp.SystemBuffer;
  ULONG comNumber, state;
  if (stack->Parameters.DeviceIoControl.InputBufferLength < VPORT_BRIDGE_STATE_SIZE)
    return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
  comNumber = VportReadLe32(in);
  state = VportReadLe32(in + 4);
  if (state > VPORT_LINK_LOST) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
  if (comNumber < WINDOW_PORTS) {
    KIRQL irql;
    BOOLEAN stale;
    KeAcquireSpinLock(&g_lock, &irql);
    stale = OfAnEarlierOpening(comNumber, in, stack->Parameters.DeviceIoControl.InputBufferLength);
    if (!stale) g_windows[comNumber].link = state;
    KeReleaseSpinLock(&g_lock, irql);
    /* About a program gone: the port's link is the new opening's to report. */
    if (stale) return Finish(irp, STATUS_SUCCESS, 0);
  }
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

/* The service gives back bytes of a port's done writes (COM number, bytes;
 * 8 bytes): the port's window opens by that much. */
static NTSTATUS Credit(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const uint8_t* in = (const uint8_t*)irp->AssociatedIrp.SystemBuffer;
  ULONG comNumber, bytes;
  KIRQL irql;
  if (stack->Parameters.DeviceIoControl.InputBufferLength < VPORT_BRIDGE_CREDIT_SIZE)
    return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
  comNumber = VportReadLe32(in);
  bytes = VportReadLe32(in + 4);
  if (comNumber >= WINDOW_PORTS) return Finish(irp, STATUS_NOT_FOUND, 0);
  KeAcquireSpinLock(&g_lock, &irql);
  /* Bytes of an opening before this one: its window started empty without them. */
  if (!OfAnEarlierOpening(comNumber, in, stack->Parameters.DeviceIoControl.InputBufferLength))
    g_windows[comNumber].unanswered -=
        bytes < g_windows[comNumber].unanswered ? bytes : g_windows[comNumber].unanswered;
  KeReleaseSpinLock(&g_lock, irql);
  return Finish(irp, STATUS_SUCCESS, 0);
}

/* The service tells how many bytes it holds for a port each way. */
static NTSTATUS ReportQueues(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const uint8_t* in = (const uint8_t*)irp->AssociatedIrp.SystemBuffer;
  if (stack->Parameters.DeviceIoControl.InputBufferLength < VPORT_BRIDGE_QUEUES_SIZE)
    return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
  return Finish(irp,
                VportSetQueues(VportReadLe32(in), VportReadLe32(in + 4), VportReadLe32(in + 8))
                    ? STATUS_SUCCESS
                    : STATUS_NOT_FOUND,
                0);
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
/* Frees the done writes of port `comNumber` (below WINDOW_PORTS) with its
 * window. Under g_lock. */
static void FreeOrdered(ULONG comNumber) {
  LIST_ENTRY* entry = g_ordered.Flink;
  while (entry != &g_ordered) {
    Ordered* record = CONTAINING_RECORD(entry, Ordered, entry);
    entry = entry->Flink;
    if (record->comNumber != comNumber || record->kind != VPORT_BRIDGE_WRITE) continue;
    RemoveEntryList(&record->entry);
    ExFreePoolWithTag(record, BRIDGE_TAG);
  }
  g_windows[comNumber].link = VPORT_LINK_IDLE;
  g_windows[comNumber].unanswered = 0;
}

void BridgeDropPort(ULONG comNumber, NTSTATUS status) {
  KIRQL irql;
  Drop(NULL, comNumber, status, FALSE);
  if (comNumber >= WINDOW_PORTS) return;
  KeAcquireSpinLock(&g_lock, &irql);
  FreeOrdered(comNumber);
  KeReleaseSpinLock(&g_lock, irql);
}

/* Joins a mask or purge notice to the port's last notice in g_ordered when
 * that is one of the same kind not handed yet: a new mask replaces the old
 * one, two purges in a row are one with both's flags. Under g_lock. */
static BOOLEAN Coalesced(const Ordered* notice) {
  LIST_ENTRY* entry;
  for (entry = g_ordered.Blink; entry != &g_ordered; entry = entry->Blink) {
    Ordered* last = CONTAINING_RECORD(entry, Ordered, entry);
    if (last->comNumber != notice->comNumber) continue;
    if (last->kind != notice->kind) return FALSE;
    last->flags = notice->kind == VPORT_BRIDGE_PURGE ? last->flags | notice->flags : notice->flags;
    return TRUE;
  }
  return FALSE;
}

void BridgeNotify(ULONG kind, ULONG comNumber, const UCHAR* settings, ULONG flags) {
  Ordered* notice = (Ordered*)ExAllocatePoolWithTag(NonPagedPool, sizeof(Ordered), BRIDGE_TAG);
  KIRQL irql;
  if (notice != NULL) {
    RtlZeroMemory(notice, sizeof *notice);
    notice->kind = kind;
    notice->comNumber = comNumber;
    notice->flags = flags;
    if (settings != NULL) RtlCopyMemory(notice->settings, settings, VPORT_BRIDGE_SETTINGS_SIZE);
  }
  KeAcquireSpinLock(&g_lock, &irql);
  /* A program opened or closed the port: writes are done at once again only
   * once the service reported the link for this opening, and the service
   * starts this opening with an empty window. */
  if ((kind == VPORT_BRIDGE_OPEN || kind == VPORT_BRIDGE_CLOSE) && comNumber < WINDOW_PORTS)
    g_windows[comNumber].link = VPORT_LINK_IDLE;
  if (kind == VPORT_BRIDGE_OPEN && comNumber < WINDOW_PORTS) {
    g_windows[comNumber].unanswered = 0;
    if (++g_windows[comNumber].opening == 0) g_windows[comNumber].opening = 1; /* 0 means "untagged" */
    if (notice != NULL) notice->opening = g_windows[comNumber].opening;
  }
  /* Purged while no service runs: the done writes kept for the next one go. */
  if (kind == VPORT_BRIDGE_PURGE && g_services == 0 && comNumber < WINDOW_PORTS &&
      (flags & (VPORT_PURGE_TXABORT | VPORT_PURGE_TXCLEAR)) != 0)
    FreeOrdered(comNumber);
  /* Nobody to tell: a service that comes is told the ports' state as it is
   * then (Announce). A mask or purge right behind one of the same kind of
   * the port joins it; beyond its port's bound it is lost. */
  if (notice != NULL && g_services != 0 && !(Bounded(notice) && Coalesced(notice))) {
    if (Bounded(notice) && g_windows[comNumber].notices >= PORT_NOTICE_CAPACITY) {
      KeReleaseSpinLock(&g_lock, irql);
      ExFreePoolWithTag(notice, BRIDGE_TAG);
      return;
    }
    if (Bounded(notice)) ++g_windows[comNumber].notices;
    InsertTailList(&g_ordered, &notice->entry);
    KeReleaseSpinLock(&g_lock, irql);
    PumpAndEnd();
    return;
  }
  KeReleaseSpinLock(&g_lock, irql);
  if (notice != NULL) ExFreePoolWithTag(notice, BRIDGE_TAG);
}

static NTSTATUS Forward(PIRP irp, ULONG comNumber, ULONG kind, ULONG length, const ULONG* timeouts);

/* A write done at once: while the port is connected, no earlier write of it
 * waits for the service and its bytes fit in the window, the bridge keeps a
 * copy for the service and the write ends. FALSE (nothing done) otherwise. */
static BOOLEAN WriteAtOnce(PIRP irp, ULONG comNumber, ULONG length) {
  Ordered* write;
  PortWindow* window;
  BOOLEAN taken = FALSE;
  KIRQL irql;
  if (comNumber >= WINDOW_PORTS || length == 0 || length > WRITE_WINDOW) return FALSE;
  window = &g_windows[comNumber];
  /* A first look without the lock spares the copy when the window is surely shut. */
  if (window->link != VPORT_LINK_CONNECTED || window->unanswered + length > WRITE_WINDOW) return FALSE;
  write = (Ordered*)ExAllocatePoolWithTag(NonPagedPool, FIELD_OFFSET(Ordered, data) + length, BRIDGE_TAG);
  if (write == NULL) return FALSE;
  RtlZeroMemory(write, FIELD_OFFSET(Ordered, data));
  write->kind = VPORT_BRIDGE_WRITE;
  write->comNumber = comNumber;
  write->length = length;
  RtlCopyMemory(write->data, irp->AssociatedIrp.SystemBuffer, length);
  KeAcquireSpinLock(&g_lock, &irql);
  if (g_services > 0 && window->link == VPORT_LINK_CONNECTED && window->waiting == 0 &&
      window->unanswered + length <= WRITE_WINDOW) {
    window->unanswered += length;
    InsertTailList(&g_ordered, &write->entry);
    taken = TRUE;
  }
  KeReleaseSpinLock(&g_lock, irql);
  if (!taken) {
    ExFreePoolWithTag(write, BRIDGE_TAG);
    return FALSE;
  }
  /* The service first: the bytes are on their way while the program wakes. */
  PumpAndEnd();
  Finish(irp, STATUS_SUCCESS, length);
  return TRUE;
}

NTSTATUS BridgeForward(PIRP irp, ULONG comNumber, ULONG kind, const ULONG* timeouts) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG length = kind == VPORT_BRIDGE_WRITE ? stack->Parameters.Write.Length : stack->Parameters.Read.Length;
  if (kind == VPORT_BRIDGE_WRITE && WriteAtOnce(irp, comNumber, length)) return STATUS_SUCCESS;
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

void BridgeEndRequests(ULONG comNumber, ULONG kind) {
  LIST_ENTRY ended;
  KIRQL irql;
  InitializeListHead(&ended);
  KeAcquireSpinLock(&g_lock, &irql);
  TakeMatching(&g_queued, NULL, comNumber, kind, &ended);
  TakeMatching(&g_handed, NULL, comNumber, kind, &ended);
  KeReleaseSpinLock(&g_lock, irql);
  EndAll(&ended, STATUS_CANCELLED);
}

static NTSTATUS Forward(PIRP irp, ULONG comNumber, ULONG kind, ULONG length, const ULONG* timeouts) {
  Held* held;
  KIRQL irql;
  BOOLEAN queued;
  ULONG i;
  BOOLEAN served;
  irp->Tail.Overlay.DriverContext[0] = NULL;
  if (length == 0) return Finish(irp, STATUS_SUCCESS, 0);
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
  /* No service: nothing would carry the bytes, so the program hears so at
   * once. Checked with the queueing in one step, so a request cannot be
   * queued after the last service's requests were swept (Close). */
  served = g_services != 0;
  queued = FALSE;
  if (served) {
    held->id = ++g_nextId;
    /* Counted from here until it ends (FinishAny): later writes wait behind it. */
    if (kind == VPORT_BRIDGE_WRITE && comNumber < WINDOW_PORTS)
      InterlockedIncrement(&g_windows[comNumber].waiting);
    queued = Hold(&g_queued, irp, FALSE);
  }
  KeReleaseSpinLock(&g_lock, irql);
  if (!served) {
    irp->Tail.Overlay.DriverContext[0] = NULL;
    ExFreePoolWithTag(held, BRIDGE_TAG);
    Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  } else if (!queued)
    FinishAny(irp, STATUS_CANCELLED, 0);
  else
    PumpAndEnd();
  return STATUS_PENDING;
}

/* The last service went; under g_lock. What waited for it:
 * - reads and waits, handed or not, wait on for the next service, in their
 *   order: no bytes were given to them, and none are lost by waiting;
 * - writes not handed over end as a refusal of what was not accepted
 *   (nothing of such a write goes out; FinishWrite);
 * - writes handed over and not answered go to `broken`: the service may or
 *   may not have sent that piece, so they end neither done nor refused;
 * - notices go: the next service is told the ports' state as it is then;
 * - done writes not handed over stay for the next service (the programs were
 *   told they are done), their bytes counted in their port's window again. */
static void LetServiceGo(LIST_ENTRY* ended, LIST_ENTRY* broken) {
  LIST_ENTRY back, *entry;
  ULONG i;
  InitializeListHead(&back);
  while (!IsListEmpty(&g_handed)) {
    PIRP irp = IRP_OF(RemoveHeadList(&g_handed));
    if (HELD(irp)->kind != VPORT_BRIDGE_WRITE)
      InsertTailList(&back, ENTRY(irp)); /* its cancel routine stays: it cancels from any list */
    else if (IoSetCancelRoutine(irp, NULL) != NULL)
      InsertTailList(broken, ENTRY(irp));
    else
      InsertTailList(&back, ENTRY(irp)); /* being cancelled: its routine takes it off */
  }
  for (entry = g_queued.Flink; entry != &g_queued;) {
    PIRP irp = IRP_OF(entry);
    entry = entry->Flink;
    if (HELD(irp)->kind == VPORT_BRIDGE_WRITE && IoSetCancelRoutine(irp, NULL) != NULL) {
      RemoveEntryList(ENTRY(irp));
      InsertTailList(ended, ENTRY(irp));
    }
  }
  while (!IsListEmpty(&back)) InsertHeadList(&g_queued, RemoveTailList(&back));
  for (i = 0; i < WINDOW_PORTS; ++i) {
    g_windows[i].link = VPORT_LINK_IDLE;
    g_windows[i].unanswered = 0;
  }
  for (entry = g_ordered.Flink; entry != &g_ordered;) {
    Ordered* record = CONTAINING_RECORD(entry, Ordered, entry);
    entry = entry->Flink;
    if (record->kind == VPORT_BRIDGE_WRITE) {
      if (record->comNumber < WINDOW_PORTS)
        g_windows[record->comNumber].unanswered += record->length - record->handed;
      continue;
    }
    RemoveEntryList(&record->entry);
    Forget(record);
  }
}

/* A bridge handle goes: its waiting NEXT requests end (at cleanup, and again
 * at close for a platform that sends no cleanup). When the last service
 * closed, nothing carries the ports' bytes until the next one comes
 * (LetServiceGo). */
static NTSTATUS Close(PIRP irp, BOOLEAN closing) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  LIST_ENTRY ended, broken;
  BOOLEAN last = FALSE;
  KIRQL irql;
  Drop(file, 0, STATUS_CANCELLED, TRUE);
  if (!closing) return Finish(irp, STATUS_SUCCESS, 0);
  InitializeListHead(&ended);
  InitializeListHead(&broken);
  KeAcquireSpinLock(&g_lock, &irql);
  if (CountedAsService(file)) {
    file->FsContext = NULL;
    last = --g_services == 0;
    if (last) LetServiceGo(&ended, &broken);
  }
  KeReleaseSpinLock(&g_lock, irql);
  EndAll(&ended, STATUS_DEVICE_NOT_CONNECTED);
  while (!IsListEmpty(&broken)) {
    PIRP write = IRP_OF(RemoveHeadList(&broken));
    FinishAny(write, STATUS_IO_DEVICE_ERROR, HELD(write)->accepted);
  }
  if (last) VportForgetLinks();
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
        case VPORT_BRIDGE_CREDIT:
          return Credit(irp);
        case VPORT_BRIDGE_QUEUES:
          return ReportQueues(irp);
        case VPORT_BRIDGE_MANAGE:
          return VportManage(irp);
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
  InitializeListHead(&g_ordered);
  InitializeListHead(&g_announced);
  RtlInitUnicodeString(&name, L"\\Device\\QnVportBridge");
  /* Secure open: the device's security also guards names opened below it. */
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &g_device);
  if (!NT_SUCCESS(status)) return status;
  /* Before it has a name programs open: a bridge anyone could write to would
   * let any program take the ports' bytes, so without its access list there
   * is no bridge (the ports then refuse reads and writes as without a service). */
  status = BridgeRestrictAccess(g_device);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g_device);
    g_device = NULL;
    return status;
  }
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
