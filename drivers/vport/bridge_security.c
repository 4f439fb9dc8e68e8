/* The bridge device's access list, built by hand: the kit's secure device
 * creation (a static library of the kit) is not available to this build. */
#include <ntifs.h>

#include "bridge_security.h"

/* A SID of at most two sub-authorities, in place. */
typedef struct ShortSid {
  UCHAR Revision;
  UCHAR SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  ULONG SubAuthority[2];
} ShortSid;

static void MakeSid(ShortSid* sid, UCHAR authority, UCHAR count, ULONG first, ULONG second) {
  SID_IDENTIFIER_AUTHORITY of = {{0, 0, 0, 0, 0, authority}};
  RtlInitializeSid((PSID)sid, &of, count);
  *RtlSubAuthoritySid((PSID)sid, 0) = first;
  if (count > 1) *RtlSubAuthoritySid((PSID)sid, 1) = second;
}

NTSTATUS BridgeRestrictAccess(PDEVICE_OBJECT device) {
  ShortSid system, administrators, everyone;
  ULONG aclBuffer[64]; /* room for three allowing entries, aligned */
  PACL acl = (PACL)aclBuffer;
  SECURITY_DESCRIPTOR descriptor;
  HANDLE handle;
  NTSTATUS status;
  MakeSid(&system, 5 /* NT authority */, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
  MakeSid(&administrators, 5, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  MakeSid(&everyone, 1 /* world authority */, 1, SECURITY_WORLD_RID, 0);
  status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION);
  if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&system);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&administrators);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, (PSID)&everyone);
  if (NT_SUCCESS(status)) status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
  if (!NT_SUCCESS(status)) return status;
  status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
  ZwClose(handle);
  return status;
}
