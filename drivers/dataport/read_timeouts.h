/* When a read on a serial port must complete, by the port's read time-outs
 * (the three read fields of the platform's COMMTIMEOUTS, in milliseconds):
 *
 * - all zero: no time-out, the read waits for every byte it asked for;
 * - interval MAXDWORD, multiplier 0, constant 0: return at once with what is
 *   buffered, even nothing;
 * - interval MAXDWORD, multiplier MAXDWORD, 0 < constant < MAXDWORD: return at
 *   once with what is buffered; with nothing, return as soon as bytes arrive,
 *   or with nothing once `constant` passed;
 * - otherwise a total time-out of multiplier x bytes asked + constant from the
 *   start of the read (when either is nonzero), and an interval time-out (when
 *   the interval is neither 0 nor MAXDWORD) that runs from the last byte
 *   received and only once one has been: whichever passes first ends the read
 *   with what is there.
 *
 * A read asking for no more than is buffered completes at once. A pure
 * function of the settings, the read and the time: the caller asks again when
 * bytes arrive and when the deadline it was given is reached.
 *
 * Plain C with no platform header and no C library call, like tx_queue.h. */
#ifndef VPORT_READ_TIMEOUTS_H
#define VPORT_READ_TIMEOUTS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VPORT_MAXDWORD 0xFFFFFFFFu

typedef struct VportReadTimeouts {
  uint32_t interval;
  uint32_t totalMultiplier;
  uint32_t totalConstant;
} VportReadTimeouts;

typedef struct VportRead {
  size_t wanted;       /* bytes the read asks for */
  size_t buffered;     /* bytes there for it now */
  uint64_t startMs;    /* when the read began */
  uint64_t lastByteMs; /* when the newest of them arrived; bytes there before the start count from it */
} VportRead;

typedef enum VportReadOutcome {
  VPORT_READ_WAIT = 0,         /* not yet: ask again when bytes arrive or at deadlineMs */
  VPORT_READ_DONE_FULL,        /* every byte asked for is there */
  VPORT_READ_DONE_AT_ONCE,     /* the return-at-once form */
  VPORT_READ_DONE_FIRST_BYTES, /* the wait-for-the-first-byte form: bytes are there */
  VPORT_READ_DONE_TOTAL,       /* the total time-out (or that form's constant) passed */
  VPORT_READ_DONE_INTERVAL,    /* the gap since the last byte passed the interval */
} VportReadOutcome;

typedef struct VportReadDecision {
  VportReadOutcome outcome;
  size_t take;         /* bytes the read completes with; 0 while waiting */
  uint64_t deadlineMs; /* while waiting: the latest time to ask again; UINT64_MAX: only when bytes arrive */
} VportReadDecision;

VportReadDecision VportReadDecide(const VportReadTimeouts* timeouts, const VportRead* read, uint64_t nowMs);

#ifdef __cplusplus
}
#endif

#endif
