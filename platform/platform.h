/*
 * The only door between the tools' logic and the world.
 *
 * Two implementations exist and one is chosen at link time:
 *   platform/uefi/  the real one, over EDK II (UEFI Shell, boot services, IoLib);
 *   tests/sim/      a simulated board for host tests (console screen, scripted keys,
 *                   an in-memory shell file system and commands, variables, an EC,
 *                   an ME behind HECI, the legacy BIOS area); it does not ship.
 * platform/posix/ implements just the console, files and the clock for the Linux
 * tools.
 *
 * The interface is plain C so that the EDK II side can be written in C. Strings are
 * UCS-2, NUL-terminated. Statuses are UEFI status values (top bit = error).
 */
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <stdint.h>

#ifdef __cplusplus
typedef char16_t PlatChar16;
extern "C" {
#else
typedef uint16_t PlatChar16;
#endif

typedef uint64_t PlatStatus;

#define PLAT_ERROR_BIT            0x8000000000000000ULL
#define PLAT_SUCCESS              0ULL
#define PLAT_LOAD_ERROR           (PLAT_ERROR_BIT | 1)
#define PLAT_INVALID_PARAMETER    (PLAT_ERROR_BIT | 2)
#define PLAT_UNSUPPORTED          (PLAT_ERROR_BIT | 3)
#define PLAT_BUFFER_TOO_SMALL     (PLAT_ERROR_BIT | 5)
#define PLAT_DEVICE_ERROR         (PLAT_ERROR_BIT | 7)
#define PLAT_OUT_OF_RESOURCES     (PLAT_ERROR_BIT | 9)
#define PLAT_NOT_FOUND            (PLAT_ERROR_BIT | 14)
#define PLAT_ACCESS_DENIED        (PLAT_ERROR_BIT | 15)
#define PLAT_TIMEOUT              (PLAT_ERROR_BIT | 18)

#define PLAT_IS_ERROR(s) (((s) & PLAT_ERROR_BIT) != 0)

/* Not a UEFI status: what both tools return when a whole file's buffer cannot
 * be had. Their callers know it as a bare 9, without the error bit. */
#define PLAT_NO_BUFFER            9ULL

/* ---- Console ------------------------------------------------------------ */

/* Writes text exactly as given (the formatter has already turned "\n" into
 * "\r\n" the way the UEFI print library does). */
void PlatConsoleWrite(const PlatChar16 *Text);

/* The cursor position of the console's text output mode. */
void PlatConsoleGetCursor(uint32_t *Column, uint32_t *Row);

/* The shell's positioned print with the format "%N%S": move the cursor to
 * (Column, Row), switch to the normal attribute, write Text. */
void PlatConsoleWriteAt(uint32_t Column, uint32_t Row, const PlatChar16 *Text);

/* One key stroke if one is waiting, without waiting for it. Returns 1 and fills
 * both fields when a key was read, 0 when none was ready or the read failed. */
int PlatConsoleReadKey(uint16_t *ScanCode, PlatChar16 *UnicodeChar);

/* ---- Pool memory ---------------------------------------------------------- */

/* Zero-filled boot-services pool memory; NULL when none is available. A request
 * of 0 bytes may give NULL or a valid pointer, as the firmware does. */
void *PlatAllocateZeroPool(uint64_t Size);
void PlatFreePool(void *Buffer);

/* ---- Shell files (names resolve against the shell's current directory) ---- */

typedef struct PlatFileHandle *PlatFile;

#define PLAT_FILE_MODE_READ   0x0000000000000001ULL
#define PLAT_FILE_MODE_WRITE  0x0000000000000002ULL
#define PLAT_FILE_MODE_CREATE 0x8000000000000000ULL

typedef struct {
  uint64_t FileSize;
  uint8_t IsDirectory;
} PlatFileInfo;

PlatStatus PlatFileOpenByName(const PlatChar16 *Name, uint64_t Mode, PlatFile *File);
PlatStatus PlatFileGetInfo(PlatFile File, PlatFileInfo *Info);
/* *Size: bytes wanted in, bytes transferred out. Reads start at the file's
 * current position (0 after open); writes likewise. */
PlatStatus PlatFileRead(PlatFile File, uint64_t *Size, void *Buffer);
PlatStatus PlatFileWrite(PlatFile File, uint64_t *Size, const void *Buffer);
/* Moves the position of the next read or write to Position bytes from the
 * file's start; a write past the end extends the file. */
PlatStatus PlatFileSetPosition(PlatFile File, uint64_t Position);
/* Cuts or extends the open file to Size bytes. */
PlatStatus PlatFileSetSize(PlatFile File, uint64_t Size);
PlatStatus PlatFileClose(PlatFile File);
/* Deletes the named file; PLAT_NOT_FOUND when there is none. */
PlatStatus PlatFileDeleteByName(const PlatChar16 *Name);
/* The shell's is-a-file test: the name opens read-only and is not a directory. */
int PlatIsFile(const PlatChar16 *Name);

/* The shell's current directory text (e.g. "FS0:\UPDATE"), or NULL when the
 * shell has none. Owned by the shell; valid until the next shell call. */
const PlatChar16 *PlatGetCurDir(void);

/* 1 under the older EFI shell interface (no UEFI Shell protocol), whose
 * %lasterror% shows a status in hexadecimal without "0x"; 0 otherwise. */
int PlatIsOlderShell(void);

/* Runs a command line through the shell's Execute with this program's image as
 * parent and no environment. Returns the execute call's own status; the command's
 * status goes to *CommandStatus (0 when the shell reports none). What is on the
 * screen stays there: a shell that runs the line in a nested shell does not get
 * to clear it, and only what the command prints is added. */
PlatStatus PlatExecute(const PlatChar16 *CommandLine, PlatStatus *CommandStatus);

/* ---- Firmware services ------------------------------------------------------ */

typedef struct {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} PlatGuid;

/* Runtime GetVariable without the attributes out-parameter. *DataSize: room in,
 * size of the variable out (also on PLAT_BUFFER_TOO_SMALL). */
PlatStatus PlatGetVariable(const PlatChar16 *Name, const PlatGuid *Vendor,
                           uint64_t *DataSize, void *Data);

void PlatStall(uint64_t Microseconds);

/* The firmware's clock as its GetTime reads it. IsUtc is 1 when the firmware
 * gives the time zone as UTC (an offset of 0), 0 when it gives another offset
 * or none (local time, as most boards keep it). The fields are the clock's as
 * they come: a board with a flat battery may give nonsense. */
typedef struct {
  uint16_t Year;
  uint8_t Month;
  uint8_t Day;
  uint8_t Hour;
  uint8_t Minute;
  uint8_t Second;
  uint8_t IsUtc;
} PlatTime;

PlatStatus PlatGetTime(PlatTime *Time);

/* The SMBIOS structure table the firmware publishes, SMBIOS 3.x's entry point
 * when there is one, else 2.x's: *Table is its first structure, *Length its
 * size (3.x gives only a maximum; the end-of-table structure ends it before).
 * PLAT_NOT_FOUND when the firmware publishes none, PLAT_UNSUPPORTED where there
 * is no firmware to ask (Linux reads /sys/class/dmi/id instead). */
PlatStatus PlatGetSmbiosTable(const uint8_t **Table, uint64_t *Length);

/* ---- Hardware ------------------------------------------------------------- */

uint8_t PlatIoRead8(uint16_t Port);
void PlatIoWrite8(uint16_t Port, uint8_t Value);

/* Direct view of physical memory [Address, Address + Length), readable byte by
 * byte for the rest of the run; NULL when the range cannot be viewed. */
const volatile uint8_t *PlatPhysicalMemory(uint64_t Address, uint64_t Length);

/* ---- HECI protocol {3C7BC880-41F8-4869-AEFC-870A3ED28299} -------------------- */

typedef struct PlatHeciProtocol PlatHeci;

/* LocateProtocol for the HECI protocol (no registration). */
PlatStatus PlatLocateHeci(PlatHeci **Heci);
/* The protocol's second, third and fourth functions. */
PlatStatus PlatHeciReadMsg(PlatHeci *Heci, uint32_t Device, uint32_t Blocking,
                           uint32_t *Buffer, uint32_t *Length);
PlatStatus PlatHeciSendMsg(PlatHeci *Heci, uint32_t Device, const uint32_t *Message,
                           uint32_t Length, uint8_t HostAddress, uint8_t MeAddress);
PlatStatus PlatHeciReset(PlatHeci *Heci, uint32_t Device);

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_PLATFORM_H_ */
