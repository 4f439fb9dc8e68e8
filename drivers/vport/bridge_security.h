/* Who may open the bridge device: the system and administrators fully,
 * everyone else for reading only (to ask a port's state). Kernel code. */
#ifndef VPORT_BRIDGE_SECURITY_H
#define VPORT_BRIDGE_SECURITY_H

#include <ntddk.h>

/* Gives `device` that access list. The default one of a named device lets
 * everyone write, and writing is what takes the ports' bytes. */
NTSTATUS BridgeRestrictAccess(PDEVICE_OBJECT device);

#endif
