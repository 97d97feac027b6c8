#include "navo/pre_step.h"

#include "platform/platform.h"
#include "platform/print.h"

namespace {

// The information tool's own status when the board is being prepared for an
// override; what it stands for is the tool's matter.
constexpr PlatStatus kOverrideStateStatus = 0xC601;

}  // namespace

bool CheckPreStep(FwKind kind) {
  Print(u"Check %s override Pin status...", FwKindName(kind));
  const char16_t *tool = kind == FwKind::Me ? u"MeInfo.efi" : u"TXEInfo.efi";
  if (!PlatIsFile(tool)) {
    Print(u"Fail\n\nError F03: An error occurs when using \"%s.\"\n", tool);
    return false;
  }

  // The same query for both engines; the redirection keeps its output off the screen.
  PlatStatus tool_status = PLAT_SUCCESS;
  PlatExecute(u"MeInfo.efi -fitver >> tmp", &tool_status);
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
