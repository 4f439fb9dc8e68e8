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

size_t VportWriteManageRequest(uint32_t code, const char* path, size_t pathLength, const uint8_t* input,
                               size_t inputLength, uint8_t* out, size_t capacity) {
  size_t i, size;
  if (path == NULL || pathLength == 0 || pathLength > VPORT_MANAGE_PATH_MAX) return 0;
  if (input == NULL) inputLength = 0;
  if (inputLength > 0xFFFFFFFFu - VPORT_MANAGE_HEADER_SIZE - pathLength) return 0;
  size = VPORT_MANAGE_HEADER_SIZE + pathLength + inputLength;
  if (out == NULL || capacity < size) return 0;
  VportWriteLe32(out + VPORT_MANAGE_CODE_OFS, code);
  VportWriteLe32(out + VPORT_MANAGE_PATH_LENGTH_OFS, (uint32_t)pathLength);
  VportWriteLe32(out + VPORT_MANAGE_INPUT_LENGTH_OFS, (uint32_t)inputLength);
  for (i = 0; i < pathLength; ++i) out[VPORT_MANAGE_HEADER_SIZE + i] = (uint8_t)path[i];
  for (i = 0; i < inputLength; ++i) out[VPORT_MANAGE_HEADER_SIZE + pathLength + i] = input[i];
  return size;
}

int VportReadManageRequest(const uint8_t* in, size_t length, VportManageRequest* out) {
  uint32_t pathLength, inputLength;
  if (in == NULL || length < VPORT_MANAGE_HEADER_SIZE) return 0;
  pathLength = VportReadLe32(in + VPORT_MANAGE_PATH_LENGTH_OFS);
  inputLength = VportReadLe32(in + VPORT_MANAGE_INPUT_LENGTH_OFS);
  /* Each length is checked against what is left, so no sum can wrap. */
  if (pathLength == 0 || pathLength > VPORT_MANAGE_PATH_MAX ||
      pathLength > length - VPORT_MANAGE_HEADER_SIZE ||
      inputLength > length - VPORT_MANAGE_HEADER_SIZE - pathLength)
    return 0;
  out->code = VportReadLe32(in + VPORT_MANAGE_CODE_OFS);
  out->path = in + VPORT_MANAGE_HEADER_SIZE;
  out->pathLength = pathLength;
  out->input = inputLength == 0 ? NULL : in + VPORT_MANAGE_HEADER_SIZE + pathLength;
  out->inputLength = inputLength;
  return 1;
}

/* The four characters before a path's device part: "\\?\" as programs see
 * it, "\??\" as the kernel names it. */
static int IsPathPrefix(uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3) {
  return c0 == '\\' && (c1 == '\\' || c1 == '?') && c2 == '?' && c3 == '\\';
}

static uint32_t AsciiUpper(uint32_t c) {
  return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

int VportInterfacePathMatches(const uint8_t* path, size_t pathLength, const uint16_t* name,
                              size_t nameChars) {
  size_t i;
  if (path == NULL || name == NULL || pathLength != nameChars || pathLength <= 4) return 0;
  if (!IsPathPrefix(path[0], path[1], path[2], path[3]) || !IsPathPrefix(name[0], name[1], name[2], name[3]))
    return 0;
  for (i = 4; i < pathLength; ++i) {
    /* Only ASCII is compared: a byte of another code page never equals a name's unit. */
    if (path[i] >= 0x80 || AsciiUpper(path[i]) != AsciiUpper(name[i])) return 0;
  }
  return 1;
}
