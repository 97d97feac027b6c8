// Board version sources 3 and 11: run the engine's information tool, capture its
// text output in a file and cut the version out of the "FW Version" line.
#ifndef NAVO_FW_VERSION_INFO_TOOL_H_
#define NAVO_FW_VERSION_INFO_TOOL_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// The version text buffer: at most this many characters and a NUL.
inline constexpr uint32_t kVersionTextChars = 23;

enum class VersionTextSearch : uint8_t { Found, NotFound, TooLong };

// Looks in `chars` 16-bit characters (little-endian byte pairs at `bytes`) for
// the first "FW Version" that has a digit or "." anywhere behind it and copies
// the run of digits and dots that starts there into `text`. A run longer than
// the buffer is TooLong and nothing is copied. Linear in `chars`.
VersionTextSearch FindVersionText(const uint8_t *bytes, uint64_t chars,
                                  char16_t (&text)[kVersionTextChars + 1]);

// A tool, the file its output is appended to, and its trace texts.
struct InfoTool {
  const char16_t *program;
  const char16_t *command_line;
  const char16_t *output_file;
  const char16_t *trace_start;
  const char16_t *trace_text;
};

inline constexpr InfoTool kMeInfoTool = {u"MeInfo.efi", u"MeInfo.efi >> MeInfoTmp.txt",
                                         u"MeInfoTmp.txt", u"Use MEInfo Tool ==> \n",
                                         u"MEInfo String ME Version: %s\n"};
inline constexpr InfoTool kTxeInfoTool = {u"TXEInfo.efi", u"TXEInfo.efi >> TxeInfoTmp.txt",
                                          u"TxeInfoTmp.txt", u"Use TXEInfo Tool ==> \n",
                                          u"TXEInfo String TXE Version: %s\n"};

// Whether the tool's program is a file in the current directory, where its
// command line finds it. When it is not, prints the F03 line, after "Fail" and
// an empty line when `close_line` (the caller's progress line is still open).
// A shell that runs lines in place cannot tell: for a program it does not find
// it prints "is not recognized" and reports success.
bool InfoToolPresent(const char16_t *program, bool close_line);

// Returns 0 when a version text was found (*version then holds what
// ParseFwVersionText made of it, zero if it rejected the text), PLAT_LOAD_ERROR
// when the tool could not be run or ended with an error status (F03),
// PLAT_NOT_FOUND when no version text was found (F07), or the loader's status.
PlatStatus ReadInfoToolVersion(const InfoTool &tool, FwVersion *version, uint8_t verbose);

// Method 3: MeInfo.efi into MeInfoTmp.txt.
PlatStatus ReadMeInfoToolVersion(FwVersion *version, uint8_t verbose);
// Method 11: TXEInfo.efi into TxeInfoTmp.txt.
PlatStatus ReadTxeInfoToolVersion(FwVersion *version, uint8_t verbose);

#endif  // NAVO_FW_VERSION_INFO_TOOL_H_
