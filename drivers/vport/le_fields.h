/* Little-endian fields of the driver's records, read and written byte by byte
 * so that neither alignment nor the machine's byte order matters. Plain C for
 * the driver, the service and the native tests alike. */
#ifndef VPORT_LE_FIELDS_H
#define VPORT_LE_FIELDS_H

#include <stdint.h>

static inline uint32_t VportReadLe32(const uint8_t* at) {
  return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) | ((uint32_t)at[3] << 24);
}

static inline void VportWriteLe32(uint8_t* at, uint32_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
  at[2] = (uint8_t)(value >> 16);
  at[3] = (uint8_t)(value >> 24);
}

static inline void VportWriteLe16(uint8_t* at, uint16_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
}

#endif
