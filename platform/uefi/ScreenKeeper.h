/** @file
  Keeps what is on the screen while the shell runs a command line in a nested
  shell.

  A UEFI Shell that nests starts a new shell for every command line handed to
  its Execute, and that shell clears the screen before it reads a single
  option. The keeper stands in gST->ConOut for the length of the call: every
  member goes on to the console that was there, except ClearScreen, which
  reports success and leaves the screen alone. The nested shell wraps whatever
  it finds in gST->ConOut with its own logger and puts it back on exit, so the
  keeper only has to be the one it finds.

  Install and restore are strictly paired around the one Execute call; the
  keeper lives in the caller's frame and must not outlive it in gST.
**/

#ifndef PLATFORM_UEFI_SCREEN_KEEPER_H_
#define PLATFORM_UEFI_SCREEN_KEEPER_H_

#include <Uefi.h>

typedef struct {
  //
  // First member: the protocol pointer the shell hands back is the record's.
  //
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL    Filter;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL    *Console;
  BOOLEAN                            Installed;
  UINTN                              ClearsKept;
} SCREEN_KEEPER;

/**
  Puts the keeper in front of gST->ConOut and updates the system table's CRC.
  Does nothing (and leaves Installed FALSE) when there is no console output.
**/
VOID
ScreenKeeperInstall (
  OUT SCREEN_KEEPER  *Keeper
  );

/**
  Gives gST->ConOut back to the console the keeper stood in front of and
  updates the system table's CRC. Safe to call when Install did nothing.
**/
VOID
ScreenKeeperRestore (
  IN OUT SCREEN_KEEPER  *Keeper
  );

#endif /* PLATFORM_UEFI_SCREEN_KEEPER_H_ */
