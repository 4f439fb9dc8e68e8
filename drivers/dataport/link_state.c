#include "link_state.h"

static void StartAttempt(VportLink* link, uint64_t nowMs) {
  link->state = VPORT_LINK_CONNECTING;
  link->dueMs = nowMs + VPORT_LINK_ATTEMPT_TIMEOUT_MS;
}

void VportLinkInit(VportLink* link) {
  link->state = VPORT_LINK_IDLE;
  link->retryMs = VPORT_LINK_FIRST_RETRY_MS;
  link->dueMs = 0;
  link->connectedMs = 0;
  link->failures = 0;
}

unsigned VportLinkOpen(VportLink* link, uint64_t nowMs) {
  if (link->state != VPORT_LINK_IDLE) return VPORT_LINK_DO_NOTHING;
  VportLinkInit(link);
  StartAttempt(link, nowMs);
  return VPORT_LINK_DO_CONNECT;
}

unsigned VportLinkClose(VportLink* link, uint64_t nowMs) {
  /* Only an attempt or a connection has a socket; a lost link waits without one. */
  unsigned action = link->state == VPORT_LINK_CONNECTING || link->state == VPORT_LINK_CONNECTED
                        ? VPORT_LINK_DO_CLOSE
                        : VPORT_LINK_DO_NOTHING;
  (void)nowMs;
  VportLinkInit(link);
  return action;
}

unsigned VportLinkConnected(VportLink* link, uint64_t nowMs) {
  if (link->state != VPORT_LINK_CONNECTING) return VPORT_LINK_DO_NOTHING;
  link->state = VPORT_LINK_CONNECTED;
  link->connectedMs = nowMs;
  return VPORT_LINK_DO_NOTHING;
}

unsigned VportLinkFailed(VportLink* link, uint64_t nowMs) {
  if (link->state != VPORT_LINK_CONNECTING && link->state != VPORT_LINK_CONNECTED)
    return VPORT_LINK_DO_NOTHING;
  if (link->state == VPORT_LINK_CONNECTED && nowMs - link->connectedMs >= VPORT_LINK_STABLE_MS) {
    link->retryMs = VPORT_LINK_FIRST_RETRY_MS;
    link->failures = 0;
  }
  link->state = VPORT_LINK_LOST;
  link->dueMs = nowMs + link->retryMs;
  link->retryMs = link->retryMs >= VPORT_LINK_MAX_RETRY_MS / 2 ? VPORT_LINK_MAX_RETRY_MS : link->retryMs * 2;
  ++link->failures;
  return VPORT_LINK_DO_CLOSE;
}

unsigned VportLinkTick(VportLink* link, uint64_t nowMs) {
  if (link->state == VPORT_LINK_LOST && nowMs >= link->dueMs) {
    StartAttempt(link, nowMs);
    return VPORT_LINK_DO_CONNECT;
  }
  if (link->state == VPORT_LINK_CONNECTING && nowMs >= link->dueMs) return VportLinkFailed(link, nowMs);
  return VPORT_LINK_DO_NOTHING;
}

uint64_t VportLinkNextDue(const VportLink* link) {
  if (link->state == VPORT_LINK_LOST || link->state == VPORT_LINK_CONNECTING) return link->dueMs;
  return UINT64_MAX;
}

const char* VportLinkStateText(uint32_t state) {
  switch (state) {
    case VPORT_LINK_IDLE:
      return "Idle";
    case VPORT_LINK_CONNECTING:
      return "Connecting";
    case VPORT_LINK_LOST:
      return "Reconnecting";
    default:
      return "Connected";
  }
}
