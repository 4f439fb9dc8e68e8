/* The bridge between the port driver and the user-mode data service: the
 * driver hands each port's requests (what a terminal program writes, each read
 * it waits on, opens, closes and new settings) to the service; the service
 * answers each write with what it accepted and each read with the bytes the
 * device server sent, and reports each port's link state. Byte layouts read and written
 * field by field; plain C with no platform header, so the driver, the service
 * and the native tests build the same code. */
#ifndef VPORT_BRIDGE_RECORDS_H
#define VPORT_BRIDGE_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The bridge device the service opens, \\.\QnVportBridge. */
#define VPORT_BRIDGE_DOS_NAME "\\\\.\\QnVportBridge"

/* Control codes on the bridge device: device type 0x22, buffered. Those of the
 * service need a handle opened for writing, which the device's access list
 * (bridge_security.c) gives only to the system and administrators; everyone
 * may read: another program can ask a port's state but never take its bytes. */
#define VPORT_BRIDGE_NEXT 0x22A400u     /* function 0x900, write access: wait for the next request */
#define VPORT_BRIDGE_COMPLETE 0x22A404u /* function 0x901, write access: answer a read or a write */
#define VPORT_BRIDGE_STATE 0x22A408u    /* function 0x902, write access: a port's link state */
#define VPORT_BRIDGE_QUERY 0x22240Cu    /* function 0x903, any access: ask a port's link state */
#define VPORT_BRIDGE_CREDIT 0x22A410u   /* function 0x904, write access: bytes of done writes given back */
#define VPORT_BRIDGE_QUEUES 0x22A414u   /* function 0x905, write access: a port's bytes held each way */
#define VPORT_BRIDGE_MANAGE 0x22A418u   /* function 0x906, write access: one of the manager's port requests */

/* Kinds of request the driver hands over. */
#define VPORT_BRIDGE_WRITE 1u    /* one piece of what a program wrote (see `total` and `offset`) */
#define VPORT_BRIDGE_READ 2u     /* a read waiting for up to `length` bytes, with its time-outs */
#define VPORT_BRIDGE_OPEN 3u     /* a program opened the port; the port's settings follow */
#define VPORT_BRIDGE_CLOSE 4u    /* the program closed it; its reads and writes are gone */
#define VPORT_BRIDGE_SETTINGS 5u /* the manager stored settings or asked to connect or close */
#define VPORT_BRIDGE_WAIT 6u     /* a wait on the event mask in `length`; answered with 4 bytes of events */
/* The program set the event mask (in `flags`): the events kept for the next
 * wait are forgotten, and the driver ended the wait that was out. */
#define VPORT_BRIDGE_MASK 7u
/* The program purged the port (`flags`: the purge flags of serial_requests.h):
 * received bytes not yet read go (input), bytes not yet sent go (output), and
 * the writes the driver ended unfinished are not sent (abort writes). */
#define VPORT_BRIDGE_PURGE 8u

/* Events a wait may see, with the platform's values: a byte received, the
 * send queue sent empty, and the modem lines (clear to send, data set ready,
 * carrier), which follow the link: on while connected. */
#define VPORT_EVENT_RXCHAR 0x1u
#define VPORT_EVENT_TXEMPTY 0x4u
#define VPORT_EVENT_CTS 0x8u
#define VPORT_EVENT_DSR 0x10u
#define VPORT_EVENT_RLSD 0x20u

/* The header of a handed-over request; a write's bytes follow it. */
#define VPORT_BRIDGE_ID_OFS 0        /* 32-bit: names a read in its answer */
#define VPORT_BRIDGE_KIND_OFS 4      /* 32-bit */
#define VPORT_BRIDGE_COM_OFS 8       /* 32-bit: the port's COM number */
#define VPORT_BRIDGE_LENGTH_OFS 12   /* 32-bit: bytes that follow, or bytes a read wants */
#define VPORT_BRIDGE_TIMEOUTS_OFS 16 /* five 32-bit read/write time-outs, as the program set them */
#define VPORT_BRIDGE_FLAGS_OFS 36    /* 32-bit: open and settings notices */
/* A write is handed in pieces of what fits the service's buffer, all with the
 * write's id: `total` is the whole write's length and `offset` where this
 * piece starts in it, so the service can take a write whole or refuse it
 * whole, and time it out as one. Zero for other kinds. */
#define VPORT_BRIDGE_TOTAL_OFS 40  /* 32-bit */
#define VPORT_BRIDGE_OFFSET_OFS 44 /* 32-bit */
#define VPORT_BRIDGE_HEADER_SIZE 48

/* Open and settings notices carry the port's remote settings, in the 20-byte
 * form of the manager's set request (port_records.h). */
#define VPORT_BRIDGE_SETTINGS_SIZE 20

/* Flag of open and settings notices: the manager asked for the port to be connected. */
#define VPORT_BRIDGE_FLAG_CONNECT 0x1u
/* Flag of a write: the program was told it is done (the bridge kept its bytes).
 * Such a write has no id and gets no answer: the service takes its bytes
 * whatever its queue holds (drops them only when the port was disconnected)
 * and gives them back to the port's window with VPORT_BRIDGE_CREDIT. */
#define VPORT_BRIDGE_FLAG_DONE 0x2u
/* The credit record: COM number, bytes, and the opening they belong to
 * (32-bit each; see VPORT_BRIDGE_OPENING_OFS). */
#define VPORT_BRIDGE_CREDIT_SIZE 8
/* The driver numbers each port's openings from 1 and names the opening in its
 * OPEN notice's id. The service names it again, at this offset, in the link
 * reports and credits of that opening, and the driver ignores one named for an
 * opening before the port's current one: the service may have sent it before
 * it read the new OPEN, and it would open the new opening's window beyond its
 * size, or let its writes be done at once before its link was reported. A
 * record without the field, or with 0 there, counts for the current opening. */
#define VPORT_BRIDGE_OPENING_OFS 8
#define VPORT_BRIDGE_TAGGED_SIZE 12
/* The queues record: COM number, bytes received waiting to be read, bytes
 * written waiting to go out (32-bit each); what a program's comm status shows. */
#define VPORT_BRIDGE_QUEUES_SIZE 12

/* A port's link, the one set of names for it on every side: the data
 * service's connection (link_state.h) is in one of these states, reports it
 * (VPORT_BRIDGE_STATE: COM number, state; 8 bytes, or 12 with the opening of
 * VPORT_BRIDGE_OPENING_OFS), and the manager shows it
 * (VPORT_BRIDGE_QUERY). The values double as the driver's connected flag: a
 * reader that takes any nonzero value for "connected" sees a port that is
 * switched on. */
typedef enum VportLinkState {
  VPORT_LINK_IDLE = 0,
  VPORT_LINK_CONNECTED = 1,
  VPORT_LINK_CONNECTING = 2,
  VPORT_LINK_LOST = 3, /* waiting to try again: the manager shows "Reconnecting" */
} VportLinkState;
#define VPORT_BRIDGE_STATE_SIZE 8

/* Anyone who can open the bridge may ask a port's link state (VPORT_BRIDGE_QUERY):
 * the COM number in, the state out, 32 bits each; STATUS_NOT_FOUND for no such
 * port. A handle that only asks is not a service: only NEXT makes it one. */
#define VPORT_BRIDGE_QUERY_SIZE 4

/* The manager's requests through the bridge (VPORT_BRIDGE_MANAGE): one of the
 * five port requests of port_records.h, run on the port the manager names by
 * the device interface path it enumerated, without opening the port. A COM
 * port can be opened only once, and a program that holds it must not keep the
 * manager from changing, connecting or closing it. Write access to the bridge
 * (the system and administrators) is what allows it. The request runs as it
 * does on the port (same checks, same statuses, same notices to the service);
 * the output is the port request's output. STATUS_NOT_FOUND: no port of this
 * driver has that path (or it is on its way out); a port request other than
 * the five: STATUS_INVALID_PARAMETER. A driver from before this request
 * refuses it with STATUS_INVALID_DEVICE_REQUEST.
 *
 * The input: a fixed header, the path (ANSI, no NUL, "\\?\" or "\??\"
 * and the rest compared without regard to case), then the port request's input. */
#define VPORT_MANAGE_CODE_OFS 0         /* 32-bit: the port request's control code */
#define VPORT_MANAGE_PATH_LENGTH_OFS 4  /* 32-bit: bytes of the path */
#define VPORT_MANAGE_INPUT_LENGTH_OFS 8 /* 32-bit: bytes of the port request's input */
#define VPORT_MANAGE_HEADER_SIZE 12     /* the path starts here, its input right after it */
#define VPORT_MANAGE_PATH_MAX 259       /* the longest path taken (the platform's path limit) */

typedef struct VportManageRequest {
  uint32_t code;
  const uint8_t* path; /* inside the buffer it was read from */
  uint32_t pathLength;
  const uint8_t* input; /* inside the buffer it was read from; NULL when there is none */
  uint32_t inputLength;
} VportManageRequest;

/* Writes a manage request; returns its size, or 0 when it does not fit or the
 * path is empty or longer than VPORT_MANAGE_PATH_MAX. */
size_t VportWriteManageRequest(uint32_t code, const char* path, size_t pathLength, const uint8_t* input,
                               size_t inputLength, uint8_t* out, size_t capacity);

/* Reads a manage request of `length` bytes; 0 when it is shorter than its
 * header announces or its path is empty or too long. */
int VportReadManageRequest(const uint8_t* in, size_t length, VportManageRequest* out);

/* Nonzero when `path` (as the manager enumerated it) names the interface the
 * driver registered as `name` (`nameChars` UTF-16 units): both start with a
 * four-character prefix, "\\?\" or "\??\", and the rest is the same
 * text without regard to the case of ASCII letters. */
int VportInterfacePathMatches(const uint8_t* path, size_t pathLength, const uint16_t* name, size_t nameChars);

/* The answer to a read (header, then the bytes) or to a write piece (header
 * only). For a write piece, `length` is the bytes of the whole write the
 * service has taken so far, counted from its start, and the status says:
 * - 0 with every byte up to the piece's end taken: the next piece follows, or
 *   the write is done when this was the last;
 * - the platform's time-out status: the write ends so, with `length` taken;
 * - an error status: the write ends. With `length` 0 it was refused whole and
 *   none of it will be sent; otherwise `length` bytes of it go out and the
 *   write ends a success with that count (a short write). */
#define VPORT_ANSWER_ID_OFS 0
#define VPORT_ANSWER_STATUS_OFS 4 /* 32-bit: 0 done, else the platform status to end it with */
#define VPORT_ANSWER_LENGTH_OFS 8
#define VPORT_ANSWER_HEADER_SIZE 16

typedef struct VportBridgeRequest {
  uint32_t id;
  uint32_t kind;
  uint32_t comNumber;
  uint32_t length;
  uint32_t timeouts[5];
  uint32_t flags;
  uint32_t total;  /* writes: the whole write's length */
  uint32_t offset; /* writes: where this piece starts in it */
} VportBridgeRequest;

typedef struct VportBridgeAnswer {
  uint32_t id;
  uint32_t status;
  uint32_t length;
  const uint8_t* data; /* the bytes after the header, inside the buffer it was read from */
  uint32_t dataLength; /* how many there are (a read's answer uses no more than `length`) */
} VportBridgeAnswer;

/* Writes a request header; returns VPORT_BRIDGE_HEADER_SIZE, or 0 when it does not fit. */
size_t VportWriteBridgeRequest(const VportBridgeRequest* request, uint8_t* out, size_t capacity);

/* Reads a request header; 0 when `length` is short of a header or of the
 * bytes it announces (a write's piece, a notice's settings). */
int VportReadBridgeRequest(const uint8_t* in, size_t length, VportBridgeRequest* out);

/* Writes an answer header (the caller puts the bytes after it); returns
 * VPORT_ANSWER_HEADER_SIZE, or 0 when it does not fit. */
size_t VportWriteBridgeAnswer(uint32_t id, uint32_t status, uint32_t dataLength, uint8_t* out,
                              size_t capacity);

/* Reads an answer; 0 when `length` is short of the header. */
int VportReadBridgeAnswer(const uint8_t* in, size_t length, VportBridgeAnswer* out);

#ifdef __cplusplus
}
#endif

#endif
