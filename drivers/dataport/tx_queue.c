#include "tx_queue.h"

static size_t Smaller(size_t a, size_t b) {
  return a < b ? a : b;
}

void VportTxInit(VportTxQueue* queue, uint8_t* storage, size_t capacity) {
  queue->storage = storage;
  queue->capacity = storage == NULL ? 0 : capacity;
  queue->head = 0;
  queue->length = 0;
}

size_t VportTxFree(const VportTxQueue* queue) {
  return queue->capacity - queue->length;
}

/* Appends `count` bytes, which the caller made sure fit. */
static void Append(VportTxQueue* queue, const uint8_t* bytes, size_t count) {
  size_t tail = (queue->head + queue->length) % (queue->capacity == 0 ? 1 : queue->capacity);
  size_t i;
  for (i = 0; i < count; ++i) {
    queue->storage[tail] = bytes[i];
    tail = tail + 1 == queue->capacity ? 0 : tail + 1;
  }
  queue->length += count;
}

VportWriteResult VportTxWrite(VportTxQueue* queue, VportLinkState state, const uint8_t* bytes, size_t count,
                              size_t* accepted) {
  size_t taken = 0;
  VportWriteResult result = VPORT_WRITE_TAKEN;
  if (bytes == NULL) count = 0;
  if (state == VPORT_LINK_IDLE) {
    result = VPORT_WRITE_NOT_OPEN;
  } else if (state == VPORT_LINK_CONNECTED) {
    taken = Smaller(count, VportTxFree(queue));
    if (taken < count) result = VPORT_WRITE_PARTIAL;
  } else if (count > VportTxFree(queue)) {
    result = VPORT_WRITE_HOLD_FULL;
  } else {
    taken = count;
  }
  Append(queue, bytes, taken);
  if (accepted != NULL) *accepted = taken;
  return result;
}

size_t VportTxAppend(VportTxQueue* queue, const uint8_t* bytes, size_t count) {
  size_t taken = bytes == NULL ? 0 : Smaller(count, VportTxFree(queue));
  Append(queue, bytes, taken);
  return taken;
}

const char* VportWriteResultText(VportWriteResult result) {
  switch (result) {
    case VPORT_WRITE_TAKEN:
      return "written";
    case VPORT_WRITE_PARTIAL:
      return "partly written: the send queue is full, the rest waits for room";
    case VPORT_WRITE_HOLD_FULL:
      return "not written: the port is reconnecting and the bytes held for it leave no room for this write";
    case VPORT_WRITE_NOT_OPEN:
      return "not written: the port is not connected";
  }
  return "not written";
}

uint32_t VportFrameLimit(uint8_t connectionType, uint32_t maxPacketSize) {
  uint32_t limit = maxPacketSize == 0 ? VPORT_DEFAULT_PACKET_SIZE : maxPacketSize;
  if (connectionType != 0 && limit > VPORT_MAX_UDP_PAYLOAD) limit = VPORT_MAX_UDP_PAYLOAD;
  return limit;
}

size_t VportTxPeekFrame(const VportTxQueue* queue, uint32_t limit, uint8_t* out, size_t capacity) {
  size_t size = Smaller(Smaller(queue->length, limit), out == NULL ? 0 : capacity);
  size_t at = queue->head;
  size_t i;
  for (i = 0; i < size; ++i) {
    out[i] = queue->storage[at];
    at = at + 1 == queue->capacity ? 0 : at + 1;
  }
  return size;
}

void VportTxConsume(VportTxQueue* queue, size_t count) {
  count = Smaller(count, queue->length);
  if (queue->capacity != 0) queue->head = (queue->head + count) % queue->capacity;
  queue->length -= count;
}

void VportTxClear(VportTxQueue* queue) {
  queue->head = 0;
  queue->length = 0;
}
