/* The bytes a port's user wrote, on their way to the remote host: a bounded
 * ring in storage the caller owns, taken out in frames of at most the port's
 * maximum packet size. A frame leaves the ring only once the transport took it,
 * so a send that fails or a connection that drops loses and reorders nothing.
 *
 * Plain C with no platform header and no C library call: the kernel driver and
 * the native tests build the same code. */
#ifndef VPORT_TX_QUEUE_H
#define VPORT_TX_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#include "link_state.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The frame size of a port whose stored maximum packet size is 0 (a port never
 * set up): the port manager's own default. */
#define VPORT_DEFAULT_PACKET_SIZE 450u
/* The most payload one IPv4 UDP datagram carries (65535 - 20 - 8). */
#define VPORT_MAX_UDP_PAYLOAD 65507u

typedef struct VportTxQueue {
  uint8_t* storage;
  size_t capacity;
  size_t head;   /* index of the oldest byte */
  size_t length; /* bytes held */
} VportTxQueue;

typedef enum VportWriteResult {
  VPORT_WRITE_TAKEN = 0,     /* every byte queued */
  VPORT_WRITE_PARTIAL = 1,   /* connected but the queue is full: `accepted` bytes queued, the caller
                                keeps the rest (the write waits for room, as on a real port) */
  VPORT_WRITE_HOLD_FULL = 2, /* not connected and the bytes do not all fit: nothing queued */
  VPORT_WRITE_NOT_OPEN = 3,  /* the port is idle: nothing queued */
} VportWriteResult;

void VportTxInit(VportTxQueue* queue, uint8_t* storage, size_t capacity);
size_t VportTxFree(const VportTxQueue* queue);

/* A write while the link is in `state`. Connected, it takes what fits. While
 * the link is being made or made again the queue is the hold queue: a write is
 * taken whole or, when it does not fit, refused whole, so the writer never has
 * half a message sent after a reconnection without knowing. Idle, nothing is
 * taken. `accepted` (may be NULL) receives the number of bytes queued. */
VportWriteResult VportTxWrite(VportTxQueue* queue, VportLinkState state, const uint8_t* bytes, size_t count,
                              size_t* accepted);
const char* VportWriteResultText(VportWriteResult result);
/* Queues as many of `count` bytes as fit, whatever the link's state (a caller
 * that decided the write is taken); returns how many. */
size_t VportTxAppend(VportTxQueue* queue, const uint8_t* bytes, size_t count);

/* The largest frame of a port: its stored maximum packet size, 0 meaning the
 * default, and for UDP no more than one datagram carries. */
uint32_t VportFrameLimit(uint8_t connectionType, uint32_t maxPacketSize);

/* Copies the next frame (the oldest bytes, at most `limit` and `capacity` of
 * them) to `out` and returns its size; the bytes stay queued. Over UDP the
 * frame is one datagram; over TCP one send, which may take fewer. */
size_t VportTxPeekFrame(const VportTxQueue* queue, uint32_t limit, uint8_t* out, size_t capacity);
/* Removes the `count` oldest bytes (those the transport took). */
void VportTxConsume(VportTxQueue* queue, size_t count);
/* Forgets every byte (the port was closed). */
void VportTxClear(VportTxQueue* queue);

#ifdef __cplusplus
}
#endif

#endif
