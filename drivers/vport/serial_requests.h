/* The serial port requests terminal programs send (what SetCommState,
 * SetCommTimeouts, ClearCommError, EscapeCommFunction, PurgeComm and their
 * kind turn into): the line settings a port keeps, read and written field by
 * field at the offsets of the platform's serial records. Plain C with no
 * platform header: the kernel driver and the native tests build the same code.
 *
 * The port keeps what it is told and answers it back; the line itself is the
 * network connection, so baud rate, framing and handshake change nothing on
 * the wire. */
#ifndef VPORT_SERIAL_REQUESTS_H
#define VPORT_SERIAL_REQUESTS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Serial request codes: device type 0x1B (serial port), buffered, any access. */
#define VPORT_SERIAL_CODE(function) (0x1B0000u | ((uint32_t)(function) << 2))
#define VPORT_SERIAL_DEVICE_TYPE 0x1Bu
#define VPORT_SERIAL_SET_BAUD_RATE VPORT_SERIAL_CODE(1)
#define VPORT_SERIAL_SET_QUEUE_SIZE VPORT_SERIAL_CODE(2)
#define VPORT_SERIAL_SET_LINE_CONTROL VPORT_SERIAL_CODE(3)
#define VPORT_SERIAL_SET_BREAK_ON VPORT_SERIAL_CODE(4)
#define VPORT_SERIAL_SET_BREAK_OFF VPORT_SERIAL_CODE(5)
#define VPORT_SERIAL_IMMEDIATE_CHAR VPORT_SERIAL_CODE(6)
#define VPORT_SERIAL_SET_TIMEOUTS VPORT_SERIAL_CODE(7)
#define VPORT_SERIAL_GET_TIMEOUTS VPORT_SERIAL_CODE(8)
#define VPORT_SERIAL_SET_DTR VPORT_SERIAL_CODE(9)
#define VPORT_SERIAL_CLR_DTR VPORT_SERIAL_CODE(10)
#define VPORT_SERIAL_RESET_DEVICE VPORT_SERIAL_CODE(11)
#define VPORT_SERIAL_SET_RTS VPORT_SERIAL_CODE(12)
#define VPORT_SERIAL_CLR_RTS VPORT_SERIAL_CODE(13)
#define VPORT_SERIAL_SET_XOFF VPORT_SERIAL_CODE(14)
#define VPORT_SERIAL_SET_XON VPORT_SERIAL_CODE(15)
#define VPORT_SERIAL_GET_WAIT_MASK VPORT_SERIAL_CODE(16)
#define VPORT_SERIAL_SET_WAIT_MASK VPORT_SERIAL_CODE(17)
#define VPORT_SERIAL_WAIT_ON_MASK VPORT_SERIAL_CODE(18)
#define VPORT_SERIAL_PURGE VPORT_SERIAL_CODE(19)
#define VPORT_SERIAL_GET_BAUD_RATE VPORT_SERIAL_CODE(20)
#define VPORT_SERIAL_GET_LINE_CONTROL VPORT_SERIAL_CODE(21)
#define VPORT_SERIAL_GET_CHARS VPORT_SERIAL_CODE(22)
#define VPORT_SERIAL_SET_CHARS VPORT_SERIAL_CODE(23)
#define VPORT_SERIAL_GET_HANDFLOW VPORT_SERIAL_CODE(24)
#define VPORT_SERIAL_SET_HANDFLOW VPORT_SERIAL_CODE(25)
#define VPORT_SERIAL_GET_MODEMSTATUS VPORT_SERIAL_CODE(26)
#define VPORT_SERIAL_GET_COMMSTATUS VPORT_SERIAL_CODE(27)
#define VPORT_SERIAL_GET_PROPERTIES VPORT_SERIAL_CODE(29)
#define VPORT_SERIAL_GET_DTRRTS VPORT_SERIAL_CODE(30)
#define VPORT_SERIAL_CONFIG_SIZE VPORT_SERIAL_CODE(32)
#define VPORT_SERIAL_GET_STATS VPORT_SERIAL_CODE(35)
#define VPORT_SERIAL_CLEAR_STATS VPORT_SERIAL_CODE(36)

/* Record sizes. */
#define VPORT_SERIAL_TIMEOUTS_SIZE 20 /* five 32-bit values */
#define VPORT_SERIAL_CHARS_SIZE 6     /* EOF, error, break, event, XON, XOFF */
#define VPORT_SERIAL_HANDFLOW_SIZE 16 /* handshake, flow replace, XON limit, XOFF limit */
#define VPORT_SERIAL_LINE_SIZE 3      /* stop bits, parity, word length */
#define VPORT_SERIAL_STATUS_SIZE 20   /* errors, hold reasons, in/out queued, two flags */
#define VPORT_SERIAL_PROPERTIES_SIZE 64
#define VPORT_SERIAL_STATS_SIZE 24

/* Modem status lines and the DTR/RTS state bits. */
#define VPORT_MODEM_CTS 0x10u
#define VPORT_MODEM_DSR 0x20u
#define VPORT_MODEM_DCD 0x80u
#define VPORT_LINE_DTR 0x1u
#define VPORT_LINE_RTS 0x2u

/* Purge flags: abort writes, abort reads, empty the output, empty the input. */
#define VPORT_PURGE_TXABORT 0x1u
#define VPORT_PURGE_RXABORT 0x2u
#define VPORT_PURGE_TXCLEAR 0x4u
#define VPORT_PURGE_RXCLEAR 0x8u

/* The timeouts as kept: read interval, read total multiplier and constant,
 * write total multiplier and constant, in milliseconds. */
typedef struct VportSerialTimeouts {
  uint32_t readInterval;
  uint32_t readTotalMultiplier;
  uint32_t readTotalConstant;
  uint32_t writeTotalMultiplier;
  uint32_t writeTotalConstant;
} VportSerialTimeouts;

typedef struct VportSerialState {
  uint32_t baudRate;
  uint8_t stopBits; /* 0: 1, 1: 1.5, 2: 2 */
  uint8_t parity;   /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
  uint8_t wordLength;
  VportSerialTimeouts timeouts;
  uint8_t chars[VPORT_SERIAL_CHARS_SIZE];
  uint32_t handflow[4];
  uint32_t inQueueSize;
  uint32_t outQueueSize;
  uint32_t waitMask;
  uint32_t lines; /* VPORT_LINE_DTR | VPORT_LINE_RTS as set */
  uint8_t breakOn;
  uint8_t lineUp;    /* set by the driver: the connection is up */
  uint32_t inQueued; /* set by the driver: bytes waiting to be read */
  uint32_t outQueued;
} VportSerialState;

typedef enum VportSerialResult {
  VPORT_SERIAL_DONE = 0,
  VPORT_SERIAL_BAD_PARAMETER = 1,    /* a value no serial port takes */
  VPORT_SERIAL_BUFFER_TOO_SMALL = 2, /* input shorter than its record, or no room for the reply */
  VPORT_SERIAL_UNSUPPORTED = 3,      /* a serial request this port does not serve */
} VportSerialResult;

/* What a request asks the caller to do besides answering it. */
typedef struct VportSerialReply {
  size_t written; /* bytes of `out` to return */
  uint32_t purge; /* VPORT_PURGE_* flags to act on */
} VportSerialReply;

/* A port as it first opens: 9600 baud, 8 data bits, no parity, one stop bit,
 * no time-outs, DTR and RTS on, XON/XOFF characters 0x11/0x13, 4 KiB queues. */
void VportSerialDefaults(VportSerialState* state);

/* Nonzero when `code` is a serial request (device type 0x1B). */
int VportIsSerialRequest(uint32_t code);

/* Serves one serial request. `in` and `out` may be the same buffer: the input
 * is read in full before anything is written. The state changes only when the
 * result is VPORT_SERIAL_DONE. */
VportSerialResult VportSerialRequest(VportSerialState* state, uint32_t code, const uint8_t* in,
                                     size_t inLength, uint8_t* out, size_t outCapacity,
                                     VportSerialReply* reply);

#ifdef __cplusplus
}
#endif

#endif
