#include "bridge_records.h"

static uint32_t ReadU32(const uint8_t* at) {
  return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) | ((uint32_t)at[3] << 24);
}

static void WriteU32(uint8_t* at, uint32_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
  at[2] = (uint8_t)(value >> 16);
  at[3] = (uint8_t)(value >> 24);
}

size_t VportWriteBridgeRequest(const VportBridgeRequest* request, uint8_t* out, size_t capacity) {
  size_t i;
  if (capacity < VPORT_BRIDGE_HEADER_SIZE) return 0;
  for (i = 0; i < VPORT_BRIDGE_HEADER_SIZE; ++i) out[i] = 0;
  WriteU32(out + VPORT_BRIDGE_ID_OFS, request->id);
  WriteU32(out + VPORT_BRIDGE_KIND_OFS, request->kind);
  WriteU32(out + VPORT_BRIDGE_COM_OFS, request->comNumber);
  WriteU32(out + VPORT_BRIDGE_LENGTH_OFS, request->length);
  for (i = 0; i < 5; ++i) WriteU32(out + VPORT_BRIDGE_TIMEOUTS_OFS + 4 * i, request->timeouts[i]);
  WriteU32(out + VPORT_BRIDGE_FLAGS_OFS, request->flags);
  return VPORT_BRIDGE_HEADER_SIZE;
}

int VportReadBridgeRequest(const uint8_t* in, size_t length, VportBridgeRequest* out) {
  size_t i;
  if (length < VPORT_BRIDGE_HEADER_SIZE) return 0;
  out->id = ReadU32(in + VPORT_BRIDGE_ID_OFS);
  out->kind = ReadU32(in + VPORT_BRIDGE_KIND_OFS);
  out->comNumber = ReadU32(in + VPORT_BRIDGE_COM_OFS);
  out->length = ReadU32(in + VPORT_BRIDGE_LENGTH_OFS);
  for (i = 0; i < 5; ++i) out->timeouts[i] = ReadU32(in + VPORT_BRIDGE_TIMEOUTS_OFS + 4 * i);
  out->flags = ReadU32(in + VPORT_BRIDGE_FLAGS_OFS);
  /* Writes and notices carry `length` bytes; a read's or a wait's length is a number. */
  if (out->kind != VPORT_BRIDGE_READ && out->kind != VPORT_BRIDGE_WAIT &&
      out->length > length - VPORT_BRIDGE_HEADER_SIZE)
    return 0;
  return 1;
}

size_t VportWriteBridgeAnswer(uint32_t id, uint32_t status, uint32_t dataLength, uint8_t* out,
                              size_t capacity) {
  if (capacity < VPORT_ANSWER_HEADER_SIZE) return 0;
  WriteU32(out + VPORT_ANSWER_ID_OFS, id);
  WriteU32(out + VPORT_ANSWER_STATUS_OFS, status);
  WriteU32(out + VPORT_ANSWER_LENGTH_OFS, dataLength);
  WriteU32(out + 12, 0);
  return VPORT_ANSWER_HEADER_SIZE;
}

int VportReadBridgeAnswer(const uint8_t* in, size_t length, VportBridgeAnswer* out) {
  if (length < VPORT_ANSWER_HEADER_SIZE) return 0;
  out->id = ReadU32(in + VPORT_ANSWER_ID_OFS);
  out->status = ReadU32(in + VPORT_ANSWER_STATUS_OFS);
  out->length = ReadU32(in + VPORT_ANSWER_LENGTH_OFS);
  out->data = in + VPORT_ANSWER_HEADER_SIZE;
  out->dataLength = (uint32_t)(length - VPORT_ANSWER_HEADER_SIZE);
  return 1;
}
