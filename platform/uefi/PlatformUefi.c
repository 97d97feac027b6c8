/** @file
  The platform layer over EDK II: the UEFI Shell (files, execute, current
  directory), boot and runtime services, the firmware's configuration tables,
  the console and x86 port I/O.

  GCC5 X64 is LP64 while EDK II's UINT64 is `unsigned long long`; the two are
  the same size, so pointers to 64-bit counts are passed through a local copy
  rather than a pointer cast.
**/

#include <Uefi.h>
#include <Guid/FileInfo.h>
#include <Guid/SmBios.h>
#include <IndustryStandard/SmBios.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/IoLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/ShellLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "platform/platform.h"
#include "platform/uefi/shell_nesting.h"
#include "platform/uefi/HeciProtocol.h"
#include "platform/uefi/ScreenKeeper.h"

/* ---- Console ------------------------------------------------------------ */

void
PlatConsoleWrite (
  const PlatChar16  *Text
  )
{
  if ((Text == NULL) || (gST->ConOut == NULL)) {
    return;
  }

  gST->ConOut->OutputString (gST->ConOut, (CHAR16 *)Text);
}

void
PlatConsoleGetCursor (
  uint32_t  *Column,
  uint32_t  *Row
  )
{
  *Column = (uint32_t)gST->ConOut->Mode->CursorColumn;
  *Row    = (uint32_t)gST->ConOut->Mode->CursorRow;
}

void
PlatConsoleWriteAt (
  uint32_t          Column,
  uint32_t          Row,
  const PlatChar16  *Text
  )
{
  ShellPrintEx ((INT32)Column, (INT32)Row, L"%N%S", (CONST CHAR16 *)Text);
}

int
PlatConsoleReadKey (
  uint16_t    *ScanCode,
  PlatChar16  *UnicodeChar
  )
{
  EFI_INPUT_KEY  Key;

  if ((gST->ConIn == NULL) ||
      EFI_ERROR (gST->ConIn->ReadKeyStroke (gST->ConIn, &Key)))
  {
    return 0;
  }

  *ScanCode    = Key.ScanCode;
  *UnicodeChar = Key.UnicodeChar;
  return 1;
}

/* ---- Pool memory ---------------------------------------------------------- */

void *
PlatAllocateZeroPool (
  uint64_t  Size
  )
{
  // An empty file still needs a buffer to read zero bytes into; asking the
  // pool for one byte gives a valid pointer whatever the firmware does with 0.
  return AllocateZeroPool ((UINTN)(Size == 0 ? 1 : Size));
}

void
PlatFreePool (
  void  *Buffer
  )
{
  if (Buffer != NULL) {
    FreePool (Buffer);
  }
}

/* ---- Shell files ------------------------------------------------------------ */

PlatStatus
PlatFileOpenByName (
  const PlatChar16  *Name,
  uint64_t          Mode,
  PlatFile          *File
  )
{
  SHELL_FILE_HANDLE  Handle;
  EFI_STATUS         Status;

  Handle = NULL;
  *File  = NULL;
  if (Name == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  Status = ShellOpenFileByName ((CONST CHAR16 *)Name, &Handle, Mode, 0);
  if (!EFI_ERROR (Status)) {
    *File = (PlatFile)Handle;
  }

  return Status;
}

PlatStatus
PlatFileGetInfo (
  PlatFile      File,
  PlatFileInfo  *Info
  )
{
  EFI_FILE_INFO  *Record;

  Record = ShellGetFileInfo ((SHELL_FILE_HANDLE)File);
  if (Record == NULL) {
    return EFI_DEVICE_ERROR;
  }

  Info->FileSize    = Record->FileSize;
  Info->IsDirectory = (uint8_t)((Record->Attribute & EFI_FILE_DIRECTORY) != 0);
  FreePool (Record);
  return EFI_SUCCESS;
}

PlatStatus
PlatFileRead (
  PlatFile  File,
  uint64_t  *Size,
  void      *Buffer
  )
{
  UINTN       Count;
  EFI_STATUS  Status;

  Count  = (UINTN)*Size;
  Status = ShellReadFile ((SHELL_FILE_HANDLE)File, &Count, Buffer);
  *Size  = Count;
  return Status;
}

PlatStatus
PlatFileWrite (
  PlatFile    File,
  uint64_t    *Size,
  const void  *Buffer
  )
{
  UINTN       Count;
  EFI_STATUS  Status;

  Count  = (UINTN)*Size;
  Status = ShellWriteFile ((SHELL_FILE_HANDLE)File, &Count, (VOID *)Buffer);
  *Size  = Count;
  return Status;
}

/* ShellLib's file functions are the UEFI Shell protocol's, or under the older
   EFI shell FileHandleLib's over the file protocol itself. */
PlatStatus
PlatFileSetPosition (
  PlatFile  File,
  uint64_t  Position
  )
{
  if (File == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  return ShellSetFilePosition ((SHELL_FILE_HANDLE)File, Position);
}

PlatStatus
PlatFileSetSize (
  PlatFile  File,
  uint64_t  Size
  )
{
  EFI_FILE_INFO  *Record;
  EFI_STATUS     Status;

  Record = ShellGetFileInfo ((SHELL_FILE_HANDLE)File);
  if (Record == NULL) {
    return EFI_DEVICE_ERROR;
  }

  Record->FileSize = Size;
  Status           = ShellSetFileInfo ((SHELL_FILE_HANDLE)File, Record);
  FreePool (Record);
  return Status;
}

PlatStatus
PlatFileClose (
  PlatFile  File
  )
{
  SHELL_FILE_HANDLE  Handle;

  if (File == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  Handle = (SHELL_FILE_HANDLE)File;
  return ShellCloseFile (&Handle);
}

PlatStatus
PlatFileDeleteByName (
  const PlatChar16  *Name
  )
{
  if (Name == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  return ShellDeleteFileByName ((CONST CHAR16 *)Name);
}

int
PlatIsFile (
  const PlatChar16  *Name
  )
{
  if (Name == NULL) {
    return 0;
  }

  return ShellIsFile ((CONST CHAR16 *)Name) == EFI_SUCCESS;
}

const PlatChar16 *
PlatGetCurDir (
  void
  )
{
  return (const PlatChar16 *)ShellGetCurrentDir (NULL);
}

int
PlatIsOlderShell (
  VOID
  )
{
  // ShellLib falls back to the older shell's interface when it finds no UEFI
  // Shell protocol.
  return gEfiShellProtocol == NULL;
}

/* The nested shell that runs a command line prints its banner and mapping
   table first unless the line starts with these options; with them the screen
   shows only what the command itself prints. A shell that runs the line in
   place would take them for the command's name. */
STATIC CONST CHAR16  mQuietPrefix[] = L"-nomap -noversion ";

STATIC
BOOLEAN
ShellNests (
  VOID
  )
{
  CONST CHAR16  *Nonesting;

  Nonesting = NULL;
  if (gEfiShellProtocol != NULL) {
    Nonesting = gEfiShellProtocol->GetEnv (L"nonesting");
  }

  return PlatExecuteNeedsQuietPrefix (
           gEfiShellProtocol != NULL,
           (CONST PlatChar16 *)Nonesting
           ) != 0;
}

PlatStatus
PlatExecute (
  const PlatChar16  *CommandLine,
  PlatStatus        *CommandStatus
  )
{
  CHAR16         *Line;
  UINTN          PrefixSize;
  UINTN          LineSize;
  BOOLEAN        Nests;
  SCREEN_KEEPER  Keeper;
  EFI_STATUS     Status;
  EFI_STATUS     RunStatus;

  *CommandStatus = 0;
  if (CommandLine == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  Nests      = ShellNests ();
  PrefixSize = Nests ? sizeof (mQuietPrefix) - sizeof (CHAR16) : 0;
  LineSize   = StrSize ((CONST CHAR16 *)CommandLine);
  Line       = AllocatePool (PrefixSize + LineSize);
  if (Line == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }

  CopyMem (Line, mQuietPrefix, PrefixSize);
  CopyMem ((UINT8 *)Line + PrefixSize, CommandLine, LineSize);

  //
  // The options keep the nested shell's banner off the screen, but not the
  // clear it makes before it reads them.
  //
  Keeper.Installed = FALSE;
  if (Nests) {
    ScreenKeeperInstall (&Keeper);
  }

  RunStatus = EFI_SUCCESS;
  Status    = ShellExecute (&gImageHandle, Line, FALSE, NULL, &RunStatus);
  ScreenKeeperRestore (&Keeper);
  FreePool (Line);
  *CommandStatus = RunStatus;
  return Status;
}

/* ---- Firmware services ------------------------------------------------------ */

PlatStatus
PlatGetVariable (
  const PlatChar16  *Name,
  const PlatGuid    *Vendor,
  uint64_t          *DataSize,
  void              *Data
  )
{
  UINTN       Size;
  EFI_STATUS  Status;

  Size      = (UINTN)*DataSize;
  Status    = gRT->GetVariable ((CHAR16 *)Name, (EFI_GUID *)Vendor, NULL, &Size, Data);
  *DataSize = Size;
  return Status;
}

void
PlatStall (
  uint64_t  Microseconds
  )
{
  gBS->Stall ((UINTN)Microseconds);
}

PlatStatus
PlatGetTime (
  PlatTime  *Time
  )
{
  EFI_TIME    Now;
  EFI_STATUS  Status;

  if (Time == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  Status = gRT->GetTime (&Now, NULL);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Time->Year   = Now.Year;
  Time->Month  = Now.Month;
  Time->Day    = Now.Day;
  Time->Hour   = Now.Hour;
  Time->Minute = Now.Minute;
  Time->Second = Now.Second;
  // EFI_UNSPECIFIED_TIMEZONE (local time) is not UTC, nor is any other offset.
  Time->IsUtc = (uint8_t)(Now.TimeZone == 0);
  return EFI_SUCCESS;
}

STATIC
VOID *
FindConfigurationTable (
  EFI_GUID  *Guid
  )
{
  UINTN  Index;

  for (Index = 0; Index < gST->NumberOfTableEntries; Index++) {
    if (CompareGuid (&gST->ConfigurationTable[Index].VendorGuid, Guid)) {
      return gST->ConfigurationTable[Index].VendorTable;
    }
  }

  return NULL;
}

PlatStatus
PlatGetSmbiosTable (
  const uint8_t  **Table,
  uint64_t       *Length
  )
{
  SMBIOS_TABLE_3_0_ENTRY_POINT  *Entry3;
  SMBIOS_TABLE_ENTRY_POINT      *Entry2;

  if ((Table == NULL) || (Length == NULL)) {
    return EFI_INVALID_PARAMETER;
  }

  *Table  = NULL;
  *Length = 0;
  //
  // An entry point without its anchor is not one, whatever GUID it was
  // published under: its address and length would point anywhere.
  //
  Entry3 = FindConfigurationTable (&gEfiSmbios3TableGuid);
  if ((Entry3 != NULL) && (CompareMem (Entry3->AnchorString, "_SM3_", 5) == 0) &&
      (Entry3->TableAddress != 0))
  {
    *Table  = (const uint8_t *)(UINTN)Entry3->TableAddress;
    *Length = Entry3->TableMaximumSize;
    return EFI_SUCCESS;
  }

  Entry2 = FindConfigurationTable (&gEfiSmbiosTableGuid);
  if ((Entry2 != NULL) && (CompareMem (Entry2->AnchorString, "_SM_", 4) == 0) &&
      (Entry2->TableAddress != 0))
  {
    *Table  = (const uint8_t *)(UINTN)Entry2->TableAddress;
    *Length = Entry2->TableLength;
    return EFI_SUCCESS;
  }

  return EFI_NOT_FOUND;
}

/* ---- Hardware ------------------------------------------------------------- */

uint8_t
PlatIoRead8 (
  uint16_t  Port
  )
{
  return IoRead8 (Port);
}

void
PlatIoWrite8 (
  uint16_t  Port,
  uint8_t   Value
  )
{
  IoWrite8 (Port, Value);
}

const volatile uint8_t *
PlatPhysicalMemory (
  uint64_t  Address,
  uint64_t  Length
  )
{
  // Boot services run identity-mapped: a physical address is the pointer.
  if (Address + Length < Address) {
    return NULL;
  }

  return (const volatile uint8_t *)(UINTN)Address;
}

/* ---- HECI --------------------------------------------------------------------- */

STATIC EFI_GUID  mHeciProtocolGuid = NAVO_HECI_PROTOCOL_GUID;

PlatStatus
PlatLocateHeci (
  PlatHeci  **Heci
  )
{
  VOID        *Interface;
  EFI_STATUS  Status;

  Interface = NULL;
  Status    = gBS->LocateProtocol (&mHeciProtocolGuid, NULL, &Interface);
  *Heci     = EFI_ERROR (Status) ? NULL : (PlatHeci *)Interface;
  return Status;
}

PlatStatus
PlatHeciReadMsg (
  PlatHeci  *Heci,
  uint32_t  Device,
  uint32_t  Blocking,
  uint32_t  *Buffer,
  uint32_t  *Length
  )
{
  return ((NAVO_HECI_PROTOCOL *)Heci)->ReadMsg (Device, Blocking, Buffer, Length);
}

PlatStatus
PlatHeciSendMsg (
  PlatHeci        *Heci,
  uint32_t        Device,
  const uint32_t  *Message,
  uint32_t        Length,
  uint8_t         HostAddress,
  uint8_t         MeAddress
  )
{
  return ((NAVO_HECI_PROTOCOL *)Heci)->SendMsg (
                                        Device,
                                        (UINT32 *)Message,
                                        Length,
                                        HostAddress,
                                        MeAddress
                                        );
}

PlatStatus
PlatHeciReset (
  PlatHeci  *Heci,
  uint32_t  Device
  )
{
  return ((NAVO_HECI_PROTOCOL *)Heci)->ResetHeci (Device);
}
