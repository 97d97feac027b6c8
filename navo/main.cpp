// The utility's main function: command line, immediate switches, banner,
// board check, pre-step, and the one command handler whose byte is the exit status.
#include "navo/main.h"

#include "navo/auto_update.h"
#include "navo/board_check.h"
#include "navo/cold_reset.h"
#include "navo/command_line.h"
#include "navo/console.h"
#include "navo/ec_pin.h"
#include "navo/fw_version/check_command.h"
#include "navo/fw_version/show_commands.h"
#include "navo/pre_step.h"
#include "navo/types.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 1;
constexpr int kVersionPatch = 0;

uint8_t RunCommand(const ParsedCommand &parsed) {
  switch (parsed.command) {
    case CommandId::CheckMe:
    case CommandId::CheckTxe:
      // Only the tool-based reads need the override state settled first.
      if (parsed.method == BoardReadMethod::Auto || parsed.method == BoardReadMethod::MeInfoTool) {
        if (!CheckPreStep(parsed.kind)) return exit_status::kFailed;
      }
      return CheckFwVersion(parsed.source, parsed.method, parsed.kind, parsed.value);
    case CommandId::BoardMe:
    case CommandId::BoardTxe:
      return ShowBoardFwVersion(parsed.kind, parsed.method);
    case CommandId::EcPin:
      return OverridePinCommand(parsed.pin_mode);
    case CommandId::EcAuto:
      return AutoUpdateCommand();
    case CommandId::FileVersion:
      return ShowFileFwVersion(parsed.value, parsed.kind);
    case CommandId::None:
      break;
  }
  return exit_status::kFailed;
}

}  // namespace

void PrintBanner() {
  Print(u"+-------------------------------------------------------------------+\n");
  Print(u"|                 ZAN Firmware Update Utility %d.%d.%d                 |\n", kVersionMajor,
        kVersionMinor, kVersionPatch);
  Print(u"+-------------------------------------------------------------------+\n");
}

extern "C" uint64_t NavoMain(uint64_t argc, PlatChar16 **argv) {
  ParsedCommand parsed;
  switch (ScanCommandLine(argc, argv, &parsed)) {
    case ImmediateSwitch::Version:
      Print(u"ZAN Firmware Update Utility. Version:  %d.%d.%d\n", kVersionMajor, kVersionMinor,
            kVersionPatch);
      return exit_status::kDone;
    case ImmediateSwitch::ColdReset:
      ColdReset();
      return exit_status::kDone;
    case ImmediateSwitch::Help:
      PrintBanner();
      PrintUsage();
      return exit_status::kDone;
    case ImmediateSwitch::None:
      break;
  }

  PrintBanner();
  if (parsed.error || parsed.command == CommandId::None) {
    PrintUsage();
    Print(u"\n");
    Print(u"%a\n", "Error F01: Parameters is wrong.");
    return exit_status::kFailed;
  }
  if (!CheckBoardSignature()) return exit_status::kFailed;
  return RunCommand(parsed);
}
