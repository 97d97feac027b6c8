// Records and codes shared by the utility's subsystems.
#ifndef NAVO_TYPES_H_
#define NAVO_TYPES_H_

#include <cstdint>

#include "platform/platform.h"

// The engine a command is about.
enum class FwKind : uint8_t { Me = 2, Txe = 3 };

// Printed "ME" for 2 and "TXE" for any other value.
constexpr const char16_t *FwKindName(FwKind kind) { return kind == FwKind::Me ? u"ME" : u"TXE"; }

// A Major of 0 means that there is no version.
struct FwVersion {
  uint16_t Major;
  uint16_t Minor;
  uint16_t HotFix;
  uint16_t Build;
};

// Whether a record holds a version: the one test for every reader of the
// board's, a file's or a typed version, on the board and on Linux.
constexpr bool HasFwVersion(const FwVersion &v) { return v.Major != 0; }

enum class BoardReadMethod : uint8_t {
  Auto = 0,
  FwUpdateLib = 1,
  BiosSetupVariable = 2,
  MeInfoTool = 3,
  TxeInfoTool = 11,
};

enum class CommandId : uint8_t {
  None = 0,
  CheckMe = 1,
  CheckTxe = 2,
  BoardMe = 3,
  BoardTxe = 4,
  EcPin = 5,
  EcAuto = 6,
  FileVersion = 7,
};

enum class OverridePinMode : uint8_t { PinToggle = 0, PinOn = 1, PinOff = 2 };

enum class VersionSource : uint8_t { None = 0, SourceFile = 1, SourceNumber = 2 };

// Status numbers of the ME host interface client; 0 is success.
using FwuStatus = uint32_t;

// Diagnostic traces. Nothing in the program switches them on.
inline constexpr uint8_t Verbose = 0;

// The utility's exit statuses.
namespace exit_status {
inline constexpr uint8_t kDone = 0;
inline constexpr uint8_t kFailed = 1;
inline constexpr uint8_t kDeclinedAutoUpdate = 2;
inline constexpr uint8_t kUpdate = 64;
inline constexpr uint8_t kNoUpdate = 69;
}  // namespace exit_status

#endif  // NAVO_TYPES_H_
