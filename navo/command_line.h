// The utility's command line: one command with its options, scanned word by word.
#ifndef NAVO_COMMAND_LINE_H_
#define NAVO_COMMAND_LINE_H_

#include <cstdint>

#include "navo/types.h"

// What the scan found. All fields start at zero; Value points into the argument
// vector, exactly as typed.
struct ParsedCommand {
  CommandId command;
  FwKind kind;
  BoardReadMethod method;
  OverridePinMode pin_mode;
  VersionSource source;
  const char16_t *value;
  bool error;
};

// The switches that act the moment the scan reaches them and end the run.
enum class ImmediateSwitch : uint8_t { None = 0, Version, ColdReset, Help };

// Scans argv[1..argc) into *parsed, upper-casing command and option words in
// place. Stops at the first fault (parsed->error) or at an immediate switch,
// which it returns; ImmediateSwitch::None when no switch was reached.
ImmediateSwitch ScanCommandLine(uint64_t argc, char16_t **argv, ParsedCommand *parsed);

#endif  // NAVO_COMMAND_LINE_H_
