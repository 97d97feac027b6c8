/** @file
  Shell entry of NAVOREC.efi; the exit status is NavoRecMain's result.
**/

#include <Uefi.h>
#include <Library/ShellCEntryLib.h>

#include "navo/recorder/recorder.h"

INTN
EFIAPI
ShellAppMain (
  IN UINTN   Argc,
  IN CHAR16  **Argv
  )
{
  return (INTN)NavoRecMain (Argc, (PlatChar16 **)Argv);
}
