/** @file
  The console-output filter that keeps the screen across a nested shell
  (ScreenKeeper.h).

  The console behind the keeper finds its own private data from the protocol
  pointer it is called with, so every member calls it with its own pointer,
  never with the keeper's.
**/

#include <Uefi.h>
#include <Library/UefiBootServicesTableLib.h>

#include "platform/uefi/ScreenKeeper.h"

STATIC
EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *
KeptConsole (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This
  )
{
  return ((SCREEN_KEEPER *)This)->Console;
}

STATIC
EFI_STATUS
EFIAPI
KeeperReset (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN BOOLEAN                          ExtendedVerification
  )
{
  return KeptConsole (This)->Reset (KeptConsole (This), ExtendedVerification);
}

STATIC
EFI_STATUS
EFIAPI
KeeperOutputString (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN CHAR16                           *String
  )
{
  return KeptConsole (This)->OutputString (KeptConsole (This), String);
}

STATIC
EFI_STATUS
EFIAPI
KeeperTestString (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN CHAR16                           *String
  )
{
  return KeptConsole (This)->TestString (KeptConsole (This), String);
}

STATIC
EFI_STATUS
EFIAPI
KeeperQueryMode (
  IN  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN  UINTN                            ModeNumber,
  OUT UINTN                            *Columns,
  OUT UINTN                            *Rows
  )
{
  return KeptConsole (This)->QueryMode (KeptConsole (This), ModeNumber, Columns, Rows);
}

STATIC
EFI_STATUS
EFIAPI
KeeperSetMode (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN UINTN                            ModeNumber
  )
{
  EFI_STATUS  Status;

  Status = KeptConsole (This)->SetMode (KeptConsole (This), ModeNumber);
  //
  // A console may hand out a new mode record with a new mode; whoever reads
  // the keeper's must see the live one.
  //
  This->Mode = KeptConsole (This)->Mode;
  return Status;
}

STATIC
EFI_STATUS
EFIAPI
KeeperSetAttribute (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN UINTN                            Attribute
  )
{
  return KeptConsole (This)->SetAttribute (KeptConsole (This), Attribute);
}

/**
  The nested shell's clear at its start, and any other: what the technician
  was shown stays, and the cursor stays where the program left it.
**/
STATIC
EFI_STATUS
EFIAPI
KeeperClearScreen (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This
  )
{
  ((SCREEN_KEEPER *)This)->ClearsKept++;
  return EFI_SUCCESS;
}

STATIC
EFI_STATUS
EFIAPI
KeeperSetCursorPosition (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN UINTN                            Column,
  IN UINTN                            Row
  )
{
  return KeptConsole (This)->SetCursorPosition (KeptConsole (This), Column, Row);
}

STATIC
EFI_STATUS
EFIAPI
KeeperEnableCursor (
  IN EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  IN BOOLEAN                          Visible
  )
{
  return KeptConsole (This)->EnableCursor (KeptConsole (This), Visible);
}

STATIC
VOID
UpdateSystemTableCrc (
  VOID
  )
{
  gST->Hdr.CRC32 = 0;
  gBS->CalculateCrc32 ((VOID *)gST, gST->Hdr.HeaderSize, &gST->Hdr.CRC32);
}

VOID
ScreenKeeperInstall (
  OUT SCREEN_KEEPER  *Keeper
  )
{
  Keeper->Console    = gST->ConOut;
  Keeper->Installed  = FALSE;
  Keeper->ClearsKept = 0;
  if (Keeper->Console == NULL) {
    return;
  }

  Keeper->Filter.Reset             = KeeperReset;
  Keeper->Filter.OutputString      = KeeperOutputString;
  Keeper->Filter.TestString        = KeeperTestString;
  Keeper->Filter.QueryMode         = KeeperQueryMode;
  Keeper->Filter.SetMode           = KeeperSetMode;
  Keeper->Filter.SetAttribute      = KeeperSetAttribute;
  Keeper->Filter.ClearScreen       = KeeperClearScreen;
  Keeper->Filter.SetCursorPosition = KeeperSetCursorPosition;
  Keeper->Filter.EnableCursor      = KeeperEnableCursor;
  //
  // Shared, not copied: the cursor the program reads afterwards is the one
  // the nested shell's output moved.
  //
  Keeper->Filter.Mode = Keeper->Console->Mode;

  gST->ConOut        = &Keeper->Filter;
  Keeper->Installed  = TRUE;
  UpdateSystemTableCrc ();
}

VOID
ScreenKeeperRestore (
  IN OUT SCREEN_KEEPER  *Keeper
  )
{
  if (!Keeper->Installed) {
    return;
  }

  //
  // Whatever the nested shell left there, the console goes back: the keeper
  // dies with the caller's frame.
  //
  gST->ConOut       = Keeper->Console;
  Keeper->Installed = FALSE;
  UpdateSystemTableCrc ();
}
