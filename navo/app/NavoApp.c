/** @file
  Shell entry of NAVO.efi; the exit status is NavoMain's result.
**/

#include <Uefi.h>
#include <Library/ShellCEntryLib.h>

#include "navo/main.h"

INTN
EFIAPI
ShellAppMain (
  IN UINTN   Argc,
  IN CHAR16  **Argv
  )
{
  return (INTN)NavoMain (Argc, (PlatChar16 **)Argv);
}
