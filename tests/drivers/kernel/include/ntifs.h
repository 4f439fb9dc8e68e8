/* Test stand-in (see ntddk.h): the security calls the bridge's access list uses. */
#ifndef KSTUB_NTIFS_H
#define KSTUB_NTIFS_H

#include <ntddk.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _SID_IDENTIFIER_AUTHORITY {
  UCHAR Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;
typedef void* PSID;
typedef struct _ACL {
  UCHAR AclRevision;
  UCHAR Sbz1;
  USHORT AclSize;
  USHORT AceCount;
  USHORT Sbz2;
} ACL, *PACL;
typedef struct _SECURITY_DESCRIPTOR {
  UCHAR Revision;
  BOOLEAN DaclPresent;
  PACL Dacl;
} SECURITY_DESCRIPTOR, *PSECURITY_DESCRIPTOR;

#define SECURITY_WORLD_RID 0x00000000
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220
#define ACL_REVISION 2
#define SECURITY_DESCRIPTOR_REVISION 1
#define FILE_ALL_ACCESS 0x001F01FF
#define FILE_GENERIC_READ 0x00120089
#define WRITE_DAC 0x00040000
#define OBJ_KERNEL_HANDLE 0x00000200
#define DACL_SECURITY_INFORMATION 0x00000004

NTSTATUS RtlInitializeSid(PSID sid, PSID_IDENTIFIER_AUTHORITY authority, UCHAR subAuthorityCount);
PULONG RtlSubAuthoritySid(PSID sid, ULONG index);
NTSTATUS RtlCreateAcl(PACL acl, ULONG length, ULONG revision);
NTSTATUS RtlAddAccessAllowedAce(PACL acl, ULONG revision, ACCESS_MASK mask, PSID sid);
NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, ULONG revision);
NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, BOOLEAN present, PACL dacl,
                                      BOOLEAN defaulted);
NTSTATUS ObOpenObjectByPointer(PVOID object, ULONG attributes, PVOID accessState, ACCESS_MASK access,
                               PVOID objectType, KPROCESSOR_MODE mode, PHANDLE handle);
NTSTATUS ZwSetSecurityObject(HANDLE handle, SECURITY_INFORMATION information,
                             PSECURITY_DESCRIPTOR descriptor);

#ifdef __cplusplus
}
#endif

#endif
