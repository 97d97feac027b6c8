/** @file
  The firmware's HECI protocol as far as the tools use it: the interface
  begins with EFIAPI function pointers, of which the second to fourth read a
  message, send a message and reset the interface.
**/
#ifndef PLATFORM_UEFI_HECI_PROTOCOL_H_
#define PLATFORM_UEFI_HECI_PROTOCOL_H_

#include <Uefi.h>

#define NAVO_HECI_PROTOCOL_GUID \
  { 0x3C7BC880, 0x41F8, 0x4869, { 0xAE, 0xFC, 0x87, 0x0A, 0x3E, 0xD2, 0x82, 0x99 } }

typedef EFI_STATUS (EFIAPI *NAVO_HECI_UNUSED)(VOID);

typedef EFI_STATUS (EFIAPI *NAVO_HECI_READ_MESSAGE)(
  IN     UINT32  Device,
  IN     UINT32  Blocking,
  IN     UINT32  *Buffer,
  IN OUT UINT32  *Length
  );

typedef EFI_STATUS (EFIAPI *NAVO_HECI_SEND_MESSAGE)(
  IN UINT32  Device,
  IN UINT32  *Message,
  IN UINT32  Length,
  IN UINT8   HostAddress,
  IN UINT8   MeAddress
  );

typedef EFI_STATUS (EFIAPI *NAVO_HECI_RESET)(
  IN UINT32  Device
  );

typedef struct {
  NAVO_HECI_UNUSED          SendWithAck;
  NAVO_HECI_READ_MESSAGE    ReadMsg;
  NAVO_HECI_SEND_MESSAGE    SendMsg;
  NAVO_HECI_RESET           ResetHeci;
  /* further members are never touched */
} NAVO_HECI_PROTOCOL;

#endif
