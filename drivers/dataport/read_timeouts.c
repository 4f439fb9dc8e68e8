#include "read_timeouts.h"

static VportReadDecision Done(VportReadOutcome outcome, size_t take) {
  VportReadDecision d;
  d.outcome = outcome;
  d.take = take;
  d.deadlineMs = UINT64_MAX;
  return d;
}

static VportReadDecision WaitUntil(uint64_t deadlineMs) {
  VportReadDecision d = Done(VPORT_READ_WAIT, 0);
  d.deadlineMs = deadlineMs;
  return d;
}

/* a + b, or UINT64_MAX ("never") when that does not fit. */
static uint64_t Later(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

/* start + multiplier x wanted + constant. */
static uint64_t TotalDeadline(const VportReadTimeouts* t, const VportRead* read) {
  uint64_t wanted = (uint64_t)read->wanted;
  if (t->totalMultiplier != 0 && wanted > (UINT64_MAX - t->totalConstant) / t->totalMultiplier)
    return UINT64_MAX;
  return Later(read->startMs, t->totalMultiplier * wanted + t->totalConstant);
}

VportReadDecision VportReadDecide(const VportReadTimeouts* t, const VportRead* read, uint64_t nowMs) {
  uint64_t total = UINT64_MAX;
  uint64_t gap = UINT64_MAX;
  if (read->buffered >= read->wanted) return Done(VPORT_READ_DONE_FULL, read->wanted);
  if (t->interval == VPORT_MAXDWORD && t->totalMultiplier == 0 && t->totalConstant == 0)
    return Done(VPORT_READ_DONE_AT_ONCE, read->buffered);
  if (t->interval == VPORT_MAXDWORD && t->totalMultiplier == VPORT_MAXDWORD && t->totalConstant != 0 &&
      t->totalConstant != VPORT_MAXDWORD) {
    if (read->buffered != 0) return Done(VPORT_READ_DONE_FIRST_BYTES, read->buffered);
    total = Later(read->startMs, t->totalConstant);
    return nowMs >= total ? Done(VPORT_READ_DONE_TOTAL, 0) : WaitUntil(total);
  }
  if (t->totalMultiplier != 0 || t->totalConstant != 0) total = TotalDeadline(t, read);
  if (t->interval != 0 && t->interval != VPORT_MAXDWORD && read->buffered != 0) {
    uint64_t last = read->lastByteMs > read->startMs ? read->lastByteMs : read->startMs;
    gap = Later(last, t->interval);
  }
  /* UINT64_MAX is "never": no time reaches it. */
  if (total != UINT64_MAX && total <= gap && nowMs >= total)
    return Done(VPORT_READ_DONE_TOTAL, read->buffered);
  if (gap != UINT64_MAX && gap < total && nowMs >= gap) return Done(VPORT_READ_DONE_INTERVAL, read->buffered);
  return WaitUntil(total < gap ? total : gap);
}
