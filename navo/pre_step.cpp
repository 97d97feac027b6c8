#include "navo/pre_step.h"

#include "navo/fw_version/info_tool.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

// The information tool's own status when the board is being prepared for an
// override; what it stands for is the tool's matter.
constexpr PlatStatus kOverrideStateStatus = 0xC601;

}  // namespace

bool CheckPreStep(FwKind kind) {
  Print(u"Check %s override Pin status...", FwKindName(kind));
  const InfoTool &tool = kind == FwKind::Me ? kMeInfoTool : kTxeInfoTool;
  if (!InfoToolPresent(tool.program, true)) return false;

  // The same query for both engines; the redirection keeps its output off the
  // screen. A TXE board may have no ME tool to ask: the shell's complaint about
  // the missing program would reach the screen, and no answer could be 0xC601.
  PlatStatus tool_status = PLAT_SUCCESS;
  if (PlatIsFile(kMeInfoTool.program)) PlatExecute(u"MeInfo.efi -fitver >> tmp", &tool_status);
  if (tool_status == kOverrideStateStatus) {
    Print(u"Fail\n\nError F11: It is already preparing override state.\n");
    PlatFileDeleteByName(u"tmp");
    PlatFileDeleteByName(u"error.log");
    return false;
  }
  PlatFileDeleteByName(u"tmp");
  Print(u"OK\n");
  return true;
}
