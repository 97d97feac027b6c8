/** @file
  Shell entry of NAVO.efi; the exit status is NavoMain's result.
**/

#include <Uefi.h>
#include <Library/ShellCEntryLib.h>

#include "platform/platform.h"

uint64_t
NavoMain (
  uint64_t    Argc,
  PlatChar16  **Argv
  );

INTN
EFIAPI
ShellAppMain (
  IN UINTN   Argc,
  IN CHAR16  **Argv
  )
{
  return (INTN)NavoMain (Argc, (PlatChar16 **)Argv);
}
