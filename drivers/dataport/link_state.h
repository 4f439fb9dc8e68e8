/* The connection of a port to its remote host, as a state machine driven by
 * explicit events and the time each happens (milliseconds of any monotonic
 * clock the caller keeps): nothing here reads a clock or touches a socket. Each
 * event returns what the caller must do (VPORT_LINK_DO_...).
 *
 *   idle --open--> connecting --connected--> connected
 *                  connecting --failed or attempt time-out--> lost
 *                  connected  --failed (peer closed, send or receive error)--> lost
 *                  lost --retry time reached (tick)--> connecting
 *   any  --close--> idle
 *
 * A UDP "connection" has no handshake: the caller reports it connected as soon
 * as its socket is ready, and failed on an error such as an ICMP port
 * unreachable coming back. Events that do not fit the state (a late connect
 * completion after close) are ignored.
 *
 * Plain C with no platform header and no C library call, like tx_queue.h. */
#ifndef VPORT_LINK_STATE_H
#define VPORT_LINK_STATE_H

#include <stdint.h>

/* The states (VportLinkState, VPORT_LINK_...) are the bridge's: the service
 * reports them to the driver and the manager shows them as they are. */
#include "bridge_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The first wait after a loss: short, so that a device back from a restart (a
 * few seconds) is found again soon. Each failed attempt doubles it. */
#define VPORT_LINK_FIRST_RETRY_MS 500u
/* The longest wait: a device away for long is tried twice a minute, and found
 * at most this long after it is back. */
#define VPORT_LINK_MAX_RETRY_MS 30000u
/* An attempt that has neither succeeded nor failed by then (its SYN lost, no
 * answer at all) is given up and counts as failed. */
#define VPORT_LINK_ATTEMPT_TIMEOUT_MS 5000u
/* A connection that held this long counts as good: its loss starts the waits
 * again from the first. One that drops sooner keeps doubling them, so a peer
 * that accepts and closes at once is not hammered. */
#define VPORT_LINK_STABLE_MS 10000u

#define VPORT_LINK_DO_NOTHING 0u
#define VPORT_LINK_DO_CONNECT 1u /* start an attempt: new socket, connect */
#define VPORT_LINK_DO_CLOSE 2u   /* close the attempt's or the connection's socket */

typedef struct VportLink {
  VportLinkState state;
  uint32_t retryMs;     /* the wait after the next failure */
  uint64_t dueMs;       /* connecting: the attempt's deadline; lost: the next attempt */
  uint64_t connectedMs; /* when the connection was made */
  uint32_t failures;    /* failed attempts and losses since the last good connection */
} VportLink;

void VportLinkInit(VportLink* link);
/* Connect pressed, or the port opened with "connect at start". */
unsigned VportLinkOpen(VportLink* link, uint64_t nowMs);
/* Close pressed, or the port closed: back to idle from anywhere. */
unsigned VportLinkClose(VportLink* link, uint64_t nowMs);
/* The attempt succeeded. */
unsigned VportLinkConnected(VportLink* link, uint64_t nowMs);
/* The attempt failed, or the connection broke. */
unsigned VportLinkFailed(VportLink* link, uint64_t nowMs);
/* Time passed: an attempt that is due starts, one that took too long fails. */
unsigned VportLinkTick(VportLink* link, uint64_t nowMs);
/* When Tick has something to do next; UINT64_MAX: nothing until an event. */
uint64_t VportLinkNextDue(const VportLink* link);

/* The text the port list shows for a state, given as the driver's connected
 * flag: 0 "Idle", 2 "Connecting", 3 "Reconnecting", any other nonzero value
 * "Connected". */
const char* VportLinkStateText(uint32_t state);

#ifdef __cplusplus
}
#endif

#endif
