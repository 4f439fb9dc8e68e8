/* Test stand-in (see ntddk.h): DEFINE_GUID defines its GUID in the file that includes this first. */
#define INITGUID
