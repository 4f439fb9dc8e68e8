/* The port driver's side of the bridge to the user-mode data service (see
 * bridge_records.h for what crosses it). Kernel code: the ports call these
 * from their dispatch routines. */
#ifndef VPORT_BRIDGE_H
#define VPORT_BRIDGE_H

#include <ntddk.h>

/* Makes the bridge device and its DOS name; removes them again. */
NTSTATUS BridgeStart(PDRIVER_OBJECT driver);
void BridgeStop(void);

/* Nonzero for the bridge device: its requests go to BridgeDispatch. */
BOOLEAN BridgeIsDevice(PDEVICE_OBJECT device);
NTSTATUS BridgeDispatch(PDEVICE_OBJECT device, PIRP irp);

/* Hands a port's read or write to the service, or holds it until the service
 * asks; completes it at once when no service is there. `timeouts` are the
 * port's five time-outs as the program set them. Returns what the dispatch
 * routine returns. */
NTSTATUS BridgeForward(PIRP irp, ULONG comNumber, ULONG kind, const ULONG* timeouts);

/* Hands a wait on the event `mask` to the service; its answer is the events
 * seen. Returns what the dispatch routine returns. */
NTSTATUS BridgeForwardWait(PIRP irp, ULONG comNumber, ULONG mask);

/* Ends the port's waits with no event (the program set a new mask). */
void BridgeEndWaits(ULONG comNumber);

/* Ends the port's reads or writes (`kind`) that wait, as cancelled (a
 * write with what was accepted of it): the program purged them. */
void BridgeEndRequests(ULONG comNumber, ULONG kind);

/* Tells the service a program opened or closed the port, or the manager
 * changed its settings: `settings` (20 bytes, the set-request form; NULL for
 * a close) and `flags` (VPORT_BRIDGE_FLAG_CONNECT) go with it. */
void BridgeNotify(ULONG kind, ULONG comNumber, const UCHAR* settings, ULONG flags);

/* Kept by the ports (vport.c): the link state the service reported for the
 * port with this COM number; FALSE when there is no such port. */
BOOLEAN VportSetLinkState(ULONG comNumber, ULONG state);
/* The port's link state as anyone may ask it: the service's last report, or
 * before one the manager's connected flag; FALSE when there is no such port. */
BOOLEAN VportGetLinkState(ULONG comNumber, ULONG* state);

/* Kept by the ports (vport.c): the bytes the service holds for the port each
 * way, as a program's comm status shows them; FALSE when there is no such port. */
BOOLEAN VportSetQueues(ULONG comNumber, ULONG inQueued, ULONG outQueued);

/* Kept by the ports: the service went, so no port is connected any more
 * (the link states it reported are forgotten). */
void VportForgetLinks(void);

/* Kept by the ports: a service came where none was. Tells it, through
 * BridgeAnnounce, an open notice for each port a program is served on and a
 * settings notice with VPORT_BRIDGE_FLAG_CONNECT for each other port the
 * manager connected. */
void VportTellService(void);
/* Queues one such notice (`settings`: 20 bytes) ahead of everything else. */
void BridgeAnnounce(ULONG kind, ULONG comNumber, const UCHAR* settings, ULONG flags);

/* Ends every request of `file` (a program closed the port) or of the port
 * `comNumber` (the port goes away) with `status`. */
void BridgeDropFile(PFILE_OBJECT file, NTSTATUS status);
void BridgeDropPort(ULONG comNumber, NTSTATUS status);

#endif
