// -FILEMEVER/-FILETXEVER and -MBMEVER/-MBTXEVER: show a version, decide nothing.
#include "navo/fw_version/show_commands.h"

#include "navo/fw_version/board_version.h"
#include "navo/fw_version/image_version.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

void PrintMissingVersion() {
  Print(u"Oops! something went wrong. Please contact the program developer\n");
}

}  // namespace

uint8_t ShowFileFwVersion(const char16_t *file_name, FwKind kind) {
  FwVersion version{0, 0, 0, 0};
  Print(u"Read %s %s FW version...", file_name, FwKindName(kind));
  if (ReadImageFwVersion(file_name, &version) != PLAT_SUCCESS) return exit_status::kFailed;
  Print(u"OK\n\n");
  if (!HasFwVersion(version)) {
    PrintMissingVersion();
    return exit_status::kDone;
  }
  Print(u"%s %s FW version : %d.%d.%d.%d\n", file_name, FwKindName(kind), version.Major,
        version.Minor, version.HotFix, version.Build);
  return exit_status::kDone;
}

uint8_t ShowBoardFwVersion(FwKind kind, BoardReadMethod method) {
  FwVersion version{0, 0, 0, 0};
  Print(u"Read Board %s FW version...", FwKindName(kind));
  uint32_t column = 0;
  uint32_t row = 0;
  PlatConsoleGetCursor(&column, &row);
  if (ReadBoardFwVersion(&version, CommandReadMethod(kind, method), Verbose) != PLAT_SUCCESS) {
    // A method that fails silently (HECI, the setup variable) leaves the cursor
    // behind the progress text, where the shell's prompt would overwrite it.
    uint32_t now_column = 0;
    uint32_t now_row = 0;
    PlatConsoleGetCursor(&now_column, &now_row);
    if (now_column == column && now_row == row) Print(u"\n");
    return exit_status::kFailed;
  }
  Print(u"OK\n\n");
  if (!HasFwVersion(version)) {
    PrintMissingVersion();
    return exit_status::kDone;
  }
  Print(u"%s FW version on the board: %d.%d.%d.%d\n", FwKindName(kind), version.Major,
        version.Minor, version.HotFix, version.Build);
  return exit_status::kDone;
}
