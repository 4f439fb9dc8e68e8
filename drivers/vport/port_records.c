#include "port_records.h"
#include "le_fields.h"

static void Fill(uint8_t* p, size_t count) {
  size_t i;
  for (i = 0; i < count; ++i) p[i] = 0;
}

VportParseResult VportParseRemoteRequest(const uint8_t* in, size_t length, VportRemoteSettings* out) {
  VportRemoteSettings parsed;
  int i;
  if (in == NULL || length < VPORT_REQ_SIZE) return VPORT_PARSE_TOO_SHORT;
  /* A type the manager cannot show would leave the port in a state nobody can read back. */
  if (in[VPORT_REQ_TYPE_OFS] > VPORT_TYPE_UDP_CLIENT) return VPORT_PARSE_BAD_TYPE;
  for (i = 0; i < 4; ++i) parsed.address[i] = in[VPORT_REQ_ADDRESS_OFS + i];
  parsed.port[0] = in[VPORT_REQ_PORT_OFS];
  parsed.port[1] = in[VPORT_REQ_PORT_OFS + 1];
  parsed.type = in[VPORT_REQ_TYPE_OFS];
  parsed.connectAtStart = VportReadLe32(in + VPORT_REQ_CONNECT_AT_START_OFS);
  parsed.maxPacketSize = VportReadLe32(in + VPORT_REQ_MAX_PACKET_OFS);
  *out = parsed;
  return VPORT_PARSE_OK;
}

size_t VportWriteRemoteRequest(const VportRemoteSettings* settings, uint8_t* out, size_t capacity) {
  int i;
  if (settings == NULL || out == NULL || capacity < VPORT_REQ_SIZE) return 0;
  Fill(out, VPORT_REQ_SIZE);
  for (i = 0; i < 4; ++i) out[VPORT_REQ_ADDRESS_OFS + i] = settings->address[i];
  out[VPORT_REQ_PORT_OFS] = settings->port[0];
  out[VPORT_REQ_PORT_OFS + 1] = settings->port[1];
  out[VPORT_REQ_TYPE_OFS] = settings->type;
  VportWriteLe32(out + VPORT_REQ_CONNECT_AT_START_OFS, settings->connectAtStart);
  VportWriteLe32(out + VPORT_REQ_MAX_PACKET_OFS, settings->maxPacketSize);
  return VPORT_REQ_SIZE;
}

size_t VportWriteRemoteReply(const VportRemoteSettings* settings, uint32_t connected, uint8_t* out,
                             size_t capacity) {
  int i;
  if (settings == NULL || out == NULL || capacity < VPORT_REPLY_SIZE) return 0;
  Fill(out, VPORT_REPLY_SIZE);
  for (i = 0; i < 4; ++i) out[VPORT_REPLY_ADDRESS_OFS + i] = settings->address[i];
  out[VPORT_REPLY_PORT_OFS] = settings->port[0];
  out[VPORT_REPLY_PORT_OFS + 1] = settings->port[1];
  out[VPORT_REPLY_TYPE_OFS] = settings->type;
  VportWriteLe32(out + VPORT_REPLY_CONNECT_AT_START_OFS, settings->connectAtStart);
  VportWriteLe32(out + VPORT_REPLY_CONNECTED_OFS, connected);
  VportWriteLe32(out + VPORT_REPLY_MAX_PACKET_OFS, settings->maxPacketSize);
  return VPORT_REPLY_SIZE;
}

size_t VportWriteDosNameReply(uint32_t comNumber, uint8_t* out, size_t capacity) {
  uint8_t digits[10];
  size_t count = 0, at = 0;
  if (out == NULL || capacity < VPORT_DOS_NAME_REPLY_SIZE || comNumber == 0) return 0;
  do {
    digits[count++] = (uint8_t)('0' + comNumber % 10);
    comNumber /= 10;
  } while (comNumber != 0);
  /* "COM" and the digits must leave room for the NUL within the first 10 bytes. */
  if (3 + count > VPORT_DOS_NAME_MAX - 1) return 0;
  Fill(out, VPORT_DOS_NAME_REPLY_SIZE);
  out[at++] = 'C';
  out[at++] = 'O';
  out[at++] = 'M';
  while (count > 0) out[at++] = digits[--count];
  return VPORT_DOS_NAME_REPLY_SIZE;
}

int VportHasEndpoint(const VportRemoteSettings* settings) {
  uint32_t address = VportReadLe32(settings->address);
  return address != 0 && (settings->port[0] != 0 || settings->port[1] != 0);
}
