/* Byte layouts of the virtual port's control requests, read and written field
 * by field at named offsets. Plain C with no platform header: the kernel driver
 * and the native tests build the same code. */
#ifndef VPORT_PORT_RECORDS_H
#define VPORT_PORT_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Control codes: device type 0x22, any access; (type << 16) | (function << 2) | method. */
#define VPORT_IOCTL_GET_DOS_NAME 0x222024u    /* function 0x809, buffered */
#define VPORT_IOCTL_SET_REMOTE_INFO 0x222048u /* function 0x812, buffered */
#define VPORT_IOCTL_CONNECTION 0x22204Eu      /* function 0x813, out direct */
#define VPORT_IOCTL_DISCONNECTION 0x222052u   /* function 0x814, out direct */
#define VPORT_IOCTL_GET_REMOTE_INFO 0x222088u /* function 0x822, buffered */

/* RemoteInfoRequest: the 20-byte input of the set request. */
#define VPORT_REQ_ADDRESS_OFS 0           /* 4 bytes, network order */
#define VPORT_REQ_PORT_OFS 4              /* 2 bytes, network order */
#define VPORT_REQ_TYPE_OFS 8              /* 1 byte */
#define VPORT_REQ_CONNECT_AT_START_OFS 12 /* 32-bit little-endian */
#define VPORT_REQ_MAX_PACKET_OFS 16       /* 32-bit little-endian */
#define VPORT_REQ_SIZE 20

/* RemoteInfoReply: the 24-byte output of the get request; the connected flag
 * sits before the packet size. */
#define VPORT_REPLY_ADDRESS_OFS 0
#define VPORT_REPLY_PORT_OFS 4
#define VPORT_REPLY_TYPE_OFS 8
#define VPORT_REPLY_CONNECT_AT_START_OFS 12
#define VPORT_REPLY_CONNECTED_OFS 16
#define VPORT_REPLY_MAX_PACKET_OFS 20
#define VPORT_REPLY_SIZE 24

/* DosNameReply: the COM name, NUL-terminated within its first 10 bytes. */
#define VPORT_DOS_NAME_REPLY_SIZE 12
#define VPORT_DOS_NAME_MAX 10

#define VPORT_TYPE_TCP_CLIENT 0
#define VPORT_TYPE_UDP_CLIENT 1

/* A port's remote settings as the driver keeps them: address and port stay in
 * the network order they arrived in, so the reply returns the same bytes. */
typedef struct VportRemoteSettings {
  uint8_t address[4];
  uint8_t port[2];
  uint8_t type;
  uint32_t connectAtStart;
  uint32_t maxPacketSize;
} VportRemoteSettings;

typedef enum VportParseResult {
  VPORT_PARSE_OK = 0,
  VPORT_PARSE_TOO_SHORT = 1,
  VPORT_PARSE_BAD_TYPE = 2,
} VportParseResult;

/* Reads a set request of `length` bytes; leaves `out` untouched unless OK. */
VportParseResult VportParseRemoteRequest(const uint8_t* in, size_t length, VportRemoteSettings* out);

/* Writes the settings as a 20-byte set request (the form the driver keeps them
 * in between starts); returns the bytes written, 0 when `capacity` is too small. */
size_t VportWriteRemoteRequest(const VportRemoteSettings* settings, uint8_t* out, size_t capacity);

/* Writes the 24-byte reply; returns the bytes written, 0 when `capacity` is too small. */
size_t VportWriteRemoteReply(const VportRemoteSettings* settings, uint32_t connected, uint8_t* out,
                             size_t capacity);

/* Writes the 12-byte DOS name reply ("COM" and the number); returns the bytes
 * written, 0 when `capacity` is too small or the number has no 10-character name. */
size_t VportWriteDosNameReply(uint32_t comNumber, uint8_t* out, size_t capacity);

/* Nonzero when the settings name an endpoint a connection can go to. */
int VportHasEndpoint(const VportRemoteSettings* settings);

#ifdef __cplusplus
}
#endif

#endif
