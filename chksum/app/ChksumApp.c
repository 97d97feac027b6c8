/** @file
  Shell entry of CHKSUM.efi. The exit status is ChksumMain's full 64-bit value
  (a UEFI error status keeps its top bit).
**/

#include <Uefi.h>
#include <Library/ShellCEntryLib.h>

#include "chksum/chksum.h"

INTN
EFIAPI
ShellAppMain (
  IN UINTN   Argc,
  IN CHAR16  **Argv
  )
{
  return (INTN)ChksumMain (Argc, (PlatChar16 **)Argv);
}
