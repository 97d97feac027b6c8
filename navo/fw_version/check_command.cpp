// -CHKMEVER/-CHKTXEVER: compare the board's firmware version with a file's or a
// typed one, advise, ask, and hand the answer to the calling script.
#include "navo/fw_version/check_command.h"

#include "navo/console.h"
#include "navo/fw_version/board_version.h"
#include "navo/fw_version/image_version.h"
#include "navo/fw_version/update_decision.h"
#include "navo/fw_version/version_text.h"
#include "platform/print.h"

namespace {

// The progress line that a slow read leaves behind is "Read Board %s FW
// version..." (27 characters for ME, 28 for TXE), the 40-character notice and,
// when the read fails, the method's "Fail": 71 or 72 characters. The rewrite
// covers all of them so that no stray "Fail" stays at the end of the line.
constexpr uint32_t kBoardLineWidthMe = 71;
constexpr uint32_t kBoardLineWidthTxe = 72;
constexpr uint32_t kMaxBoardLine = 80;

uint32_t BoardLineWidth(FwKind kind) {
  return kind == FwKind::Me ? kBoardLineWidthMe : kBoardLineWidthTxe;
}

// Writes `text` padded with blanks to the board line's width at the remembered
// cursor position.
void RewriteBoardLine(uint32_t column, uint32_t row, FwKind kind, const char16_t *text) {
  char16_t line[kMaxBoardLine + 1];
  const uint32_t width = BoardLineWidth(kind);
  uint32_t n = 0;
  for (; n < width && text[n] != u'\0'; ++n) line[n] = text[n];
  for (; n < width; ++n) line[n] = u' ';
  line[n] = u'\0';
  PlatConsoleWriteAt(column, row, line);
}

void PrintVersionLine(const char16_t *format, FwKind kind, const FwVersion &v) {
  Print(format, FwKindName(kind), v.Major, v.Minor, v.HotFix, v.Build);
}

}  // namespace

uint8_t CheckFwVersion(VersionSource source, BoardReadMethod method, FwKind kind,
                       const char16_t *value) {
  FwVersion board{0, 0, 0, 0};
  FwVersion file{0, 0, 0, 0};
  uint32_t column = 0;
  uint32_t row = 0;
  PlatConsoleGetCursor(&column, &row);
  const bool me = kind == FwKind::Me;

  Print(u"Read Board %s FW version...", FwKindName(kind));
  const BoardReadMethod chosen = CommandReadMethod(kind, method);
  if (chosen == BoardReadMethod::MeInfoTool || chosen == BoardReadMethod::TxeInfoTool)
    Print(u"Please wait(it may take a little longer)");

  if (ReadBoardFwVersion(&board, chosen, Verbose) != PLAT_SUCCESS) {
    uint32_t end_column = 0;
    uint32_t end_row = 0;
    PlatConsoleGetCursor(&end_column, &end_row);
    RewriteBoardLine(column, row, kind, u"");
    PlatConsoleWriteAt(column, row,
                       me ? u"Read Board ME FW version...Fail" : u"Read Board TXE FW version...Fail");
    // The shell draws its prompt from the first column of the cursor's row:
    // left on the rewritten line, the cursor would let the prompt overwrite it
    // or the method's error line below. Go back below what the method printed,
    // or end the line when it printed nothing.
    if (end_row > row)
      PlatConsoleWriteAt(end_column, end_row, u"");
    else
      Print(u"\n");
    return exit_status::kFailed;
  }
  RewriteBoardLine(column, row, kind,
                   me ? u"Read Board ME FW version...OK" : u"Read Board TXE FW version...OK");
  Print(u"\n");

  Print(u"Read File %s FW version...", FwKindName(kind));
  const PlatStatus status = source == VersionSource::SourceNumber
                                ? ParseFwVersionText(value, &file)
                                : ReadImageFwVersion(value, &file);
  if (status != PLAT_SUCCESS) return exit_status::kFailed;
  if (HasFwVersion(file)) Print(u"OK\n");
  Print(u"\n");

  if (HasFwVersion(board))
    PrintVersionLine(u"%s FW version on the board: %d.%d.%d.%d\n", kind, board);
  else
    Print(u"Error! Can not read %s FW Verion on the Board.\n", FwKindName(kind));
  if (HasFwVersion(file))
    PrintVersionLine(u"%s FW version in the File : %d.%d.%d.%d\n", kind, file);
  else
    Print(u"Error! Can not read %s FW Version in the File.  \n", FwKindName(kind));
  if (!HasFwVersion(board) || !HasFwVersion(file)) return exit_status::kFailed;

  Print(u"\n");
  const UpdateDecision decision = DecideUpdate(board, file);
  Print(UpdateAdvice(decision), FwKindName(kind));
  if (decision == UpdateDecision::SameVersion) return exit_status::kNoUpdate;
  uint8_t yes;
  if (decision == UpdateDecision::Update) {
    yes = PromptUser(me ? u"Do you want to update BIOS and ME firmware"
                        : u"Do you want to update BIOS and TXE firmware",
                     PromptKind::PromptYesNo);
  } else {
    yes = PromptUser(me ? u"Do you want to downgrade BIOS and ME firmware"
                        : u"Do you want to downgrade BIOS and TXE firmware",
                     PromptKind::PromptYesNo);
  }
  Print(u"\n");
  return yes != 0 ? exit_status::kUpdate : exit_status::kNoUpdate;
}
