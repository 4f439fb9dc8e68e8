#include "serial_requests.h"
#include "le_fields.h"

#include <string.h>

/* Handshake bits of the handflow record's first two values, and what no port
 * takes (the platform's reserved bits). */
#define HANDSHAKE_DTR_MASK 0x03u
#define HANDSHAKE_DTR_CONTROL 0x01u
#define HANDSHAKE_DTR_HANDSHAKE 0x02u
#define HANDSHAKE_INVALID 0x7FFFFF84u
#define FLOW_RTS_MASK 0xC0u
#define FLOW_RTS_CONTROL 0x40u
#define FLOW_INVALID 0x7FFFFF20u
#define WAIT_EVENTS_VALID 0x1FFFu /* receive character .. event 2 */
#define PURGE_VALID 0x0Fu
#define WORD_LENGTH_MIN 5
#define WORD_LENGTH_MAX 8
#define PARITY_MAX 4
#define STOP_BITS_ONE_AND_HALF 1
#define STOP_BITS_TWO 2
#define DEFAULT_QUEUE_SIZE 4096u

void VportSerialDefaults(VportSerialState* state) {
  memset(state, 0, sizeof *state);
  state->baudRate = 9600;
  state->wordLength = 8;
  state->chars[4] = 0x11; /* XON */
  state->chars[5] = 0x13; /* XOFF */
  state->handflow[0] = HANDSHAKE_DTR_CONTROL;
  state->handflow[1] = FLOW_RTS_CONTROL;
  state->handflow[2] = DEFAULT_QUEUE_SIZE / 4; /* XON limit */
  state->handflow[3] = DEFAULT_QUEUE_SIZE / 4; /* XOFF limit */
  state->inQueueSize = DEFAULT_QUEUE_SIZE;
  state->outQueueSize = DEFAULT_QUEUE_SIZE;
  state->lines = VPORT_LINE_DTR | VPORT_LINE_RTS;
}

int VportIsSerialRequest(uint32_t code) {
  return (code >> 16) == VPORT_SERIAL_DEVICE_TYPE;
}

/* A request's fixed-size answer: `size` bytes if they fit. */
static VportSerialResult Answer(size_t size, size_t capacity, VportSerialReply* reply) {
  if (capacity < size) return VPORT_SERIAL_BUFFER_TOO_SMALL;
  reply->written = size;
  return VPORT_SERIAL_DONE;
}

static int LineControlValid(uint8_t stopBits, uint8_t parity, uint8_t wordLength) {
  if (wordLength < WORD_LENGTH_MIN || wordLength > WORD_LENGTH_MAX) return 0;
  if (parity > PARITY_MAX || stopBits > STOP_BITS_TWO) return 0;
  /* One and a half stop bits go with 5 data bits only, two with 6 to 8. */
  if (stopBits == STOP_BITS_ONE_AND_HALF) return wordLength == WORD_LENGTH_MIN;
  if (stopBits == STOP_BITS_TWO) return wordLength != WORD_LENGTH_MIN;
  return 1;
}

static VportSerialResult SetHandflow(VportSerialState* s, const uint8_t* in, size_t inLength) {
  uint32_t handshake, flow;
  if (inLength < VPORT_SERIAL_HANDFLOW_SIZE) return VPORT_SERIAL_BUFFER_TOO_SMALL;
  handshake = VportReadLe32(in);
  flow = VportReadLe32(in + 4);
  if ((handshake & HANDSHAKE_INVALID) != 0 || (flow & FLOW_INVALID) != 0) return VPORT_SERIAL_BAD_PARAMETER;
  if ((handshake & HANDSHAKE_DTR_MASK) == HANDSHAKE_DTR_MASK) return VPORT_SERIAL_BAD_PARAMETER;
  s->handflow[0] = handshake;
  s->handflow[1] = flow;
  s->handflow[2] = VportReadLe32(in + 8);
  s->handflow[3] = VportReadLe32(in + 12);
  /* Off turns the line off; control or handshake puts it up. */
  s->lines = (s->lines & ~VPORT_LINE_DTR) | ((handshake & HANDSHAKE_DTR_MASK) != 0 ? VPORT_LINE_DTR : 0);
  s->lines = (s->lines & ~VPORT_LINE_RTS) | ((flow & FLOW_RTS_MASK) != 0 ? VPORT_LINE_RTS : 0);
  return VPORT_SERIAL_DONE;
}

/* DTR and RTS follow the program only where no handshake drives them. */
static VportSerialResult SetLine(VportSerialState* s, uint32_t line, int on) {
  if (line == VPORT_LINE_DTR && (s->handflow[0] & HANDSHAKE_DTR_MASK) == HANDSHAKE_DTR_HANDSHAKE)
    return VPORT_SERIAL_BAD_PARAMETER;
  if (line == VPORT_LINE_RTS && (s->handflow[1] & FLOW_RTS_MASK) > FLOW_RTS_CONTROL)
    return VPORT_SERIAL_BAD_PARAMETER;
  s->lines = on ? (s->lines | line) : (s->lines & ~line);
  return VPORT_SERIAL_DONE;
}

static VportSerialResult SetTimeouts(VportSerialState* s, const uint8_t* in, size_t inLength) {
  VportSerialTimeouts t;
  if (inLength < VPORT_SERIAL_TIMEOUTS_SIZE) return VPORT_SERIAL_BUFFER_TOO_SMALL;
  t.readInterval = VportReadLe32(in);
  t.readTotalMultiplier = VportReadLe32(in + 4);
  t.readTotalConstant = VportReadLe32(in + 8);
  t.writeTotalMultiplier = VportReadLe32(in + 12);
  t.writeTotalConstant = VportReadLe32(in + 16);
  /* "Wait for ever for the first byte" is no form a read can take. */
  if (t.readInterval == 0xFFFFFFFFu && t.readTotalMultiplier == 0xFFFFFFFFu &&
      t.readTotalConstant == 0xFFFFFFFFu)
    return VPORT_SERIAL_BAD_PARAMETER;
  s->timeouts = t;
  return VPORT_SERIAL_DONE;
}

static void WriteTimeouts(const VportSerialTimeouts* t, uint8_t* out) {
  VportWriteLe32(out, t->readInterval);
  VportWriteLe32(out + 4, t->readTotalMultiplier);
  VportWriteLe32(out + 8, t->readTotalConstant);
  VportWriteLe32(out + 12, t->writeTotalMultiplier);
  VportWriteLe32(out + 16, t->writeTotalConstant);
}

/* What the port can do, as a program asks before it sets anything: any baud
 * rate, 5 to 8 data bits, every parity and stop bit form, both handshakes. */
static void WriteProperties(const VportSerialState* s, uint8_t* out) {
  memset(out, 0, VPORT_SERIAL_PROPERTIES_SIZE);
  VportWriteLe16(out + 0, VPORT_SERIAL_PROPERTIES_SIZE); /* packet length */
  VportWriteLe16(out + 2, 2);                            /* packet version */
  VportWriteLe32(out + 4, 1);                            /* service: serial communication */
  VportWriteLe32(out + 20, 0x10000000u);                 /* maximum baud: any */
  VportWriteLe32(out + 24, 1);                           /* sub-type: RS-232 */
  VportWriteLe32(out + 28,
                 0xFFu); /* DTR/DSR, RTS/CTS, DCD, parity check, XON/XOFF, settable XON, both time-outs */
  VportWriteLe32(out + 32,
                 0x7Fu); /* settable: parity, baud, data bits, stop bits, handshake, parity check, DCD */
  VportWriteLe32(out + 36, 0x1007FFFFu); /* settable baud rates: every standard one and any other */
  VportWriteLe16(out + 40, 0x000F);      /* 5, 6, 7 and 8 data bits */
  VportWriteLe16(out + 42, 0x1F07);      /* 1, 1.5, 2 stop bits; none, odd, even, mark, space */
  VportWriteLe32(out + 44, s->outQueueSize);
  VportWriteLe32(out + 48, s->inQueueSize);
}

static VportSerialResult Get(const VportSerialState* s, uint32_t code, uint8_t* out, size_t capacity,
                             VportSerialReply* reply) {
  VportSerialResult result;
  switch (code) {
    case VPORT_SERIAL_GET_BAUD_RATE:
    case VPORT_SERIAL_GET_WAIT_MASK:
    case VPORT_SERIAL_GET_MODEMSTATUS:
    case VPORT_SERIAL_GET_DTRRTS:
    case VPORT_SERIAL_CONFIG_SIZE:
      if ((result = Answer(4, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      VportWriteLe32(out, code == VPORT_SERIAL_GET_BAUD_RATE   ? s->baudRate
                          : code == VPORT_SERIAL_GET_WAIT_MASK ? s->waitMask
                          : code == VPORT_SERIAL_GET_MODEMSTATUS
                              ? (s->lineUp ? VPORT_MODEM_CTS | VPORT_MODEM_DSR | VPORT_MODEM_DCD : 0)
                          : code == VPORT_SERIAL_GET_DTRRTS ? s->lines
                                                            : 0);
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_LINE_CONTROL:
      if ((result = Answer(VPORT_SERIAL_LINE_SIZE, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      out[0] = s->stopBits;
      out[1] = s->parity;
      out[2] = s->wordLength;
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_TIMEOUTS:
      if ((result = Answer(VPORT_SERIAL_TIMEOUTS_SIZE, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      WriteTimeouts(&s->timeouts, out);
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_CHARS:
      if ((result = Answer(VPORT_SERIAL_CHARS_SIZE, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      memcpy(out, s->chars, VPORT_SERIAL_CHARS_SIZE);
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_HANDFLOW:
      if ((result = Answer(VPORT_SERIAL_HANDFLOW_SIZE, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      for (int i = 0; i < 4; ++i) VportWriteLe32(out + 4 * i, s->handflow[i]);
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_COMMSTATUS:
      /* No line errors; the bytes held each way as the data service last told them. */
      if ((result = Answer(VPORT_SERIAL_STATUS_SIZE, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      memset(out, 0, VPORT_SERIAL_STATUS_SIZE);
      VportWriteLe32(out + 8, s->inQueued);
      VportWriteLe32(out + 12, s->outQueued);
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_PROPERTIES:
      if ((result = Answer(VPORT_SERIAL_PROPERTIES_SIZE, capacity, reply)) != VPORT_SERIAL_DONE)
        return result;
      WriteProperties(s, out);
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_GET_STATS:
      if ((result = Answer(VPORT_SERIAL_STATS_SIZE, capacity, reply)) != VPORT_SERIAL_DONE) return result;
      memset(out, 0, VPORT_SERIAL_STATS_SIZE);
      return VPORT_SERIAL_DONE;
    default:
      return VPORT_SERIAL_UNSUPPORTED;
  }
}

/* Requests with a 4-byte input value. */
static VportSerialResult SetValue(VportSerialState* s, uint32_t code, uint32_t value,
                                  VportSerialReply* reply) {
  switch (code) {
    case VPORT_SERIAL_SET_BAUD_RATE:
      if (value == 0) return VPORT_SERIAL_BAD_PARAMETER;
      s->baudRate = value;
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_SET_WAIT_MASK:
      if ((value & ~WAIT_EVENTS_VALID) != 0) return VPORT_SERIAL_BAD_PARAMETER;
      s->waitMask = value;
      return VPORT_SERIAL_DONE;
    case VPORT_SERIAL_PURGE:
      if (value == 0 || (value & ~PURGE_VALID) != 0) return VPORT_SERIAL_BAD_PARAMETER;
      reply->purge = value;
      return VPORT_SERIAL_DONE;
    default:
      return VPORT_SERIAL_UNSUPPORTED;
  }
}

VportSerialResult VportSerialRequest(VportSerialState* state, uint32_t code, const uint8_t* in,
                                     size_t inLength, uint8_t* out, size_t outCapacity,
                                     VportSerialReply* reply) {
  VportSerialState s = *state; /* changed on a copy, kept only when done */
  VportSerialResult result;
  reply->written = 0;
  reply->purge = 0;
  switch (code) {
    case VPORT_SERIAL_SET_BAUD_RATE:
    case VPORT_SERIAL_SET_WAIT_MASK:
    case VPORT_SERIAL_PURGE:
      if (inLength < 4) return VPORT_SERIAL_BUFFER_TOO_SMALL;
      result = SetValue(&s, code, VportReadLe32(in), reply);
      break;
    case VPORT_SERIAL_SET_LINE_CONTROL:
      if (inLength < VPORT_SERIAL_LINE_SIZE) return VPORT_SERIAL_BUFFER_TOO_SMALL;
      if (!LineControlValid(in[0], in[1], in[2])) return VPORT_SERIAL_BAD_PARAMETER;
      s.stopBits = in[0];
      s.parity = in[1];
      s.wordLength = in[2];
      result = VPORT_SERIAL_DONE;
      break;
    case VPORT_SERIAL_SET_QUEUE_SIZE:
      if (inLength < 8) return VPORT_SERIAL_BUFFER_TOO_SMALL;
      s.inQueueSize = VportReadLe32(in);
      s.outQueueSize = VportReadLe32(in + 4);
      result = VPORT_SERIAL_DONE;
      break;
    case VPORT_SERIAL_SET_TIMEOUTS:
      result = SetTimeouts(&s, in, inLength);
      break;
    case VPORT_SERIAL_SET_CHARS:
      if (inLength < VPORT_SERIAL_CHARS_SIZE) return VPORT_SERIAL_BUFFER_TOO_SMALL;
      memcpy(s.chars, in, VPORT_SERIAL_CHARS_SIZE);
      result = VPORT_SERIAL_DONE;
      break;
    case VPORT_SERIAL_SET_HANDFLOW:
      result = SetHandflow(&s, in, inLength);
      break;
    case VPORT_SERIAL_SET_DTR:
    case VPORT_SERIAL_CLR_DTR:
      result = SetLine(&s, VPORT_LINE_DTR, code == VPORT_SERIAL_SET_DTR);
      break;
    case VPORT_SERIAL_SET_RTS:
    case VPORT_SERIAL_CLR_RTS:
      result = SetLine(&s, VPORT_LINE_RTS, code == VPORT_SERIAL_SET_RTS);
      break;
    case VPORT_SERIAL_SET_BREAK_ON:
    case VPORT_SERIAL_SET_BREAK_OFF:
      s.breakOn = code == VPORT_SERIAL_SET_BREAK_ON;
      result = VPORT_SERIAL_DONE;
      break;
    case VPORT_SERIAL_SET_XON:
    case VPORT_SERIAL_SET_XOFF:
    case VPORT_SERIAL_RESET_DEVICE:
    case VPORT_SERIAL_CLEAR_STATS:
      result = VPORT_SERIAL_DONE; /* nothing on a network line to act on */
      break;
    default:
      /* Answers only: they read the state and change nothing. */
      return Get(state, code, out, outCapacity, reply);
  }
  if (result == VPORT_SERIAL_DONE) *state = s;
  return result;
}
