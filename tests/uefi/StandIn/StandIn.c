/** @file
  Stand-in for an information tool such as MeInfo.efi, for end-to-end tests.

  The tool's name (Argv[0] without directory and extension, e.g. "MeInfo") and
  the first argument without its leading '-' (e.g. "fitver") form a key,
  "MeInfo_fitver", or just "MeInfo" when there is no argument. The stand-in
  then
    - prints the 8-bit file <key>.out from the current directory, if present,
      byte for byte as characters (a line feed not preceded by a carriage
      return is printed as CR LF, as the real tools' Print does);
    - ends with the status written in hexadecimal in <key>.sts ("C601",
      "0xC601", surrounding blanks and line ends allowed), or 0 without it;
    - appends one "x" to <key>.runs when that file exists, so that a test can
      count the runs that the shell really made.
  A test therefore chooses output and status by writing these files.
**/

#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/PrintLib.h>
#include <Library/ShellCEntryLib.h>
#include <Library/ShellLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

#define KEY_CHARS    120
// Characters handed to OutputString at a time; the tool output can be far
// longer than one formatted print takes.
#define CHUNK_CHARS  256

/**
  Loads a whole file of the current directory. Returns NULL when it is absent
  or unreadable; *Size receives its length.
**/
STATIC
UINT8 *
LoadFile (
  IN  CONST CHAR16  *Name,
  OUT UINTN         *Size
  )
{
  SHELL_FILE_HANDLE  Handle;
  EFI_STATUS         Status;
  UINT64             FileSize;
  UINTN              ReadSize;
  UINT8              *Data;

  *Size  = 0;
  Status = ShellOpenFileByName (Name, &Handle, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR (Status)) {
    return NULL;
  }

  Data   = NULL;
  Status = ShellGetFileSize (Handle, &FileSize);
  if (!EFI_ERROR (Status) && (FileSize < SIZE_64MB)) {
    ReadSize = (UINTN)FileSize;
    Data     = AllocateZeroPool (ReadSize + 1);
    if (Data != NULL) {
      Status = ShellReadFile (Handle, &ReadSize, Data);
      if (EFI_ERROR (Status)) {
        FreePool (Data);
        Data = NULL;
      } else {
        *Size = ReadSize;
      }
    }
  }

  ShellCloseFile (&Handle);
  return Data;
}

/**
  Appends Text to Key (capacity KEY_CHARS including the terminator), cutting
  it when it does not fit.
**/
STATIC
VOID
AppendKey (
  IN OUT CHAR16        *Key,
  IN     CONST CHAR16  *Text,
  IN     UINTN         Length
  )
{
  UINTN  Used;

  Used = StrLen (Key);
  while ((Length > 0) && (*Text != L'\0') && (Used + 1 < KEY_CHARS)) {
    Key[Used++] = *Text++;
    Length--;
  }

  Key[Used] = L'\0';
}

/**
  Builds the key from the program name and the first argument.
**/
STATIC
VOID
BuildKey (
  IN  UINTN   Argc,
  IN  CHAR16  **Argv,
  OUT CHAR16  *Key
  )
{
  CONST CHAR16  *Base;
  CONST CHAR16  *Char;
  UINTN         Length;

  Key[0] = L'\0';
  Base   = (Argc > 0 && Argv[0] != NULL) ? Argv[0] : L"StandIn";
  for (Char = Base; *Char != L'\0'; Char++) {
    if ((*Char == L'\\') || (*Char == L'/') || (*Char == L':')) {
      Base = Char + 1;
    }
  }

  Length = StrLen (Base);
  if ((Length > 4) && (Base[Length - 4] == L'.') && (CharToUpper (Base[Length - 3]) == L'E') &&
      (CharToUpper (Base[Length - 2]) == L'F') && (CharToUpper (Base[Length - 1]) == L'I'))
  {
    Length -= 4;
  }

  AppendKey (Key, Base, Length);

  if ((Argc > 1) && (Argv[1] != NULL)) {
    Char = Argv[1];
    if (*Char == L'-') {
      Char++;
    }

    AppendKey (Key, L"_", 1);
    AppendKey (Key, Char, StrLen (Char));
  }
}

/**
  Prints 8-bit text through the console (which the shell may have redirected
  to a file) in pieces of CHUNK_CHARS characters.
**/
STATIC
VOID
PrintBytes (
  IN CONST UINT8  *Data,
  IN UINTN        Size
  )
{
  CHAR16  Chunk[CHUNK_CHARS + 2];
  UINTN   Used;
  UINTN   Index;

  Used = 0;
  for (Index = 0; Index < Size; Index++) {
    if ((Data[Index] == '\n') && ((Index == 0) || (Data[Index - 1] != '\r'))) {
      Chunk[Used++] = L'\r';
    }

    Chunk[Used++] = (CHAR16)Data[Index];
    if (Used >= CHUNK_CHARS) {
      Chunk[Used] = L'\0';
      gST->ConOut->OutputString (gST->ConOut, Chunk);
      Used = 0;
    }
  }

  if (Used > 0) {
    Chunk[Used] = L'\0';
    gST->ConOut->OutputString (gST->ConOut, Chunk);
  }
}

/**
  Reads the hexadecimal status text; 0 when there is none.
**/
STATIC
UINT64
ParseStatus (
  IN CONST UINT8  *Data,
  IN UINTN        Size
  )
{
  UINT64  Value;
  UINTN   Index;
  UINT8   Char;

  Value = 0;
  Index = 0;
  while ((Index < Size) && ((Data[Index] == ' ') || (Data[Index] == '\t'))) {
    Index++;
  }

  if ((Index + 1 < Size) && (Data[Index] == '0') && ((Data[Index + 1] == 'x') || (Data[Index + 1] == 'X'))) {
    Index += 2;
  }

  for ( ; Index < Size; Index++) {
    Char = Data[Index];
    if ((Char >= '0') && (Char <= '9')) {
      Value = LShiftU64 (Value, 4) | (Char - '0');
    } else if ((Char >= 'a') && (Char <= 'f')) {
      Value = LShiftU64 (Value, 4) | (Char - 'a' + 10);
    } else if ((Char >= 'A') && (Char <= 'F')) {
      Value = LShiftU64 (Value, 4) | (Char - 'A' + 10);
    } else {
      break;
    }
  }

  return Value;
}

/**
  Appends one byte to the run log when there is one.
**/
STATIC
VOID
NoteRun (
  IN CONST CHAR16  *Name
  )
{
  SHELL_FILE_HANDLE  File;
  UINT8              Mark;
  UINTN              Size;

  if (ShellFileExists (Name) != EFI_SUCCESS) {
    return;
  }

  if (EFI_ERROR (ShellOpenFileByName (Name, &File, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0))) {
    return;
  }

  Mark = 'x';
  Size = 1;
  ShellSetFilePosition (File, (UINT64)-1);
  ShellWriteFile (File, &Size, &Mark);
  ShellCloseFile (&File);
}

INTN
EFIAPI
ShellAppMain (
  IN UINTN   Argc,
  IN CHAR16  **Argv
  )
{
  CHAR16  Key[KEY_CHARS];
  CHAR16  Name[KEY_CHARS + 4];
  UINT8   *Data;
  UINTN   Size;
  UINT64  Status;

  BuildKey (Argc, Argv, Key);

  UnicodeSPrint (Name, sizeof (Name), L"%s.runs", Key);
  NoteRun (Name);

  UnicodeSPrint (Name, sizeof (Name), L"%s.out", Key);
  Data = LoadFile (Name, &Size);
  if (Data != NULL) {
    PrintBytes (Data, Size);
    FreePool (Data);
  }

  Status = 0;
  UnicodeSPrint (Name, sizeof (Name), L"%s.sts", Key);
  Data = LoadFile (Name, &Size);
  if (Data != NULL) {
    Status = ParseStatus (Data, Size);
    FreePool (Data);
  }

  return (INTN)Status;
}
