#include "bridge_records.h"
#include "le_fields.h"

size_t VportWriteBridgeRequest(const VportBridgeRequest* request, uint8_t* out, size_t capacity) {
  size_t i;
  if (capacity < VPORT_BRIDGE_HEADER_SIZE) return 0;
  for (i = 0; i < VPORT_BRIDGE_HEADER_SIZE; ++i) out[i] = 0;
  VportWriteLe32(out + VPORT_BRIDGE_ID_OFS, request->id);
  VportWriteLe32(out + VPORT_BRIDGE_KIND_OFS, request->kind);
  VportWriteLe32(out + VPORT_BRIDGE_COM_OFS, request->comNumber);
  VportWriteLe32(out + VPORT_BRIDGE_LENGTH_OFS, request->length);
  for (i = 0; i < 5; ++i) VportWriteLe32(out + VPORT_BRIDGE_TIMEOUTS_OFS + 4 * i, request->timeouts[i]);
  VportWriteLe32(out + VPORT_BRIDGE_FLAGS_OFS, request->flags);
  VportWriteLe32(out + VPORT_BRIDGE_TOTAL_OFS, request->total);
  VportWriteLe32(out + VPORT_BRIDGE_OFFSET_OFS, request->offset);
  return VPORT_BRIDGE_HEADER_SIZE;
}

int VportReadBridgeRequest(const uint8_t* in, size_t length, VportBridgeRequest* out) {
  size_t i;
  if (length < VPORT_BRIDGE_HEADER_SIZE) return 0;
  out->id = VportReadLe32(in + VPORT_BRIDGE_ID_OFS);
  out->kind = VportReadLe32(in + VPORT_BRIDGE_KIND_OFS);
  out->comNumber = VportReadLe32(in + VPORT_BRIDGE_COM_OFS);
  out->length = VportReadLe32(in + VPORT_BRIDGE_LENGTH_OFS);
  for (i = 0; i < 5; ++i) out->timeouts[i] = VportReadLe32(in + VPORT_BRIDGE_TIMEOUTS_OFS + 4 * i);
  out->flags = VportReadLe32(in + VPORT_BRIDGE_FLAGS_OFS);
  out->total = VportReadLe32(in + VPORT_BRIDGE_TOTAL_OFS);
  out->offset = VportReadLe32(in + VPORT_BRIDGE_OFFSET_OFS);
  /* Writes and notices carry `length` bytes; a read's or a wait's length is a number. */
  if (out->kind != VPORT_BRIDGE_READ && out->kind != VPORT_BRIDGE_WAIT &&
      out->length > length - VPORT_BRIDGE_HEADER_SIZE)
    return 0;
  /* A write's piece lies inside the write it belongs to. */
  if (out->kind == VPORT_BRIDGE_WRITE && (out->offset > out->total || out->length > out->total - out->offset))
    return 0;
  return 1;
}

size_t VportWriteBridgeAnswer(uint32_t id, uint32_t status, uint32_t dataLength, uint8_t* out,
                              size_t capacity) {
  if (capacity < VPORT_ANSWER_HEADER_SIZE) return 0;
  VportWriteLe32(out + VPORT_ANSWER_ID_OFS, id);
  VportWriteLe32(out + VPORT_ANSWER_STATUS_OFS, status);
  VportWriteLe32(out + VPORT_ANSWER_LENGTH_OFS, dataLength);
  VportWriteLe32(out + 12, 0);
  return VPORT_ANSWER_HEADER_SIZE;
}

int VportReadBridgeAnswer(const uint8_t* in, size_t length, VportBridgeAnswer* out) {
  if (length < VPORT_ANSWER_HEADER_SIZE) return 0;
  out->id = VportReadLe32(in + VPORT_ANSWER_ID_OFS);
  out->status = VportReadLe32(in + VPORT_ANSWER_STATUS_OFS);
  out->length = VportReadLe32(in + VPORT_ANSWER_LENGTH_OFS);
  out->data = in + VPORT_ANSWER_HEADER_SIZE;
  out->dataLength = (uint32_t)(length - VPORT_ANSWER_HEADER_SIZE);
  return 1;
}
