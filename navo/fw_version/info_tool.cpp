#include "navo/fw_version/info_tool.h"

#include "navo/file_loader.h"
#include "navo/fw_version/version_text.h"
#include "platform/print.h"

namespace {

constexpr char16_t kLabel[] = u"FW Version";
constexpr uint64_t kLabelChars = sizeof kLabel / sizeof kLabel[0] - 1;
// A short settling pause between the tool's end and reading its output file.
constexpr uint64_t kSettleMicroseconds = 500;

char16_t CharAt(const uint8_t *bytes, uint64_t i) {
  return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

bool IsVersionChar(char16_t c) { return (c >= u'0' && c <= u'9') || c == u'.'; }

bool LabelAt(const uint8_t *bytes, uint64_t i) {
  for (uint64_t k = 0; k < kLabelChars; ++k)
    if (CharAt(bytes, i + k) != kLabel[k]) return false;
  return true;
}

void PrintToolFailure(const char16_t *program, bool close_line) {
  if (close_line) Print(u"Fail\n\n");
  Print(u"Error F03: An error occurs when using \"%s.\"\n", program);
}

}  // namespace

bool InfoToolPresent(const char16_t *program, bool close_line) {
  if (PlatIsFile(program)) return true;
  PrintToolFailure(program, close_line);
  return false;
}

VersionTextSearch FindVersionText(const uint8_t *bytes, uint64_t chars,
                                  char16_t (&text)[kVersionTextChars + 1]) {
  for (uint64_t pos = 0; chars >= kLabelChars && pos <= chars - kLabelChars; ++pos) {
    if (!LabelAt(bytes, pos)) continue;
    uint64_t i = pos + kLabelChars;
    while (i < chars && !IsVersionChar(CharAt(bytes, i))) ++i;
    // Every later label lies inside the stretch just passed over, so its own
    // scan would reach the end without a digit as well.
    if (i == chars) return VersionTextSearch::NotFound;
    const uint64_t first = i;
    while (i < chars && IsVersionChar(CharAt(bytes, i))) ++i;
    if (i - first > kVersionTextChars) return VersionTextSearch::TooLong;
    uint32_t n = 0;
    for (uint64_t k = first; k < i; ++k) text[n++] = CharAt(bytes, k);
    text[n] = u'\0';
    return VersionTextSearch::Found;
  }
  return VersionTextSearch::NotFound;
}

PlatStatus ReadInfoToolVersion(const InfoTool &tool, FwVersion *version, uint8_t verbose) {
  if (verbose) Print(tool.trace_start);

  // The command appends, so only this run's output may be in the file.
  PlatFileDeleteByName(tool.output_file);
  if (!InfoToolPresent(tool.program, !verbose)) return PLAT_LOAD_ERROR;

  PlatStatus tool_status = PLAT_SUCCESS;
  PlatStatus status = PlatExecute(tool.command_line, &tool_status);
  if (PLAT_IS_ERROR(status) || PLAT_IS_ERROR(tool_status)) {
    PrintToolFailure(tool.program, !verbose);
    return PLAT_LOAD_ERROR;
  }
  PlatStall(kSettleMicroseconds);

  LoadedFile output;
  status = LoadWholeFile(tool.output_file, verbose, &output);
  if (status != PLAT_SUCCESS) return status;

  char16_t text[kVersionTextChars + 1] = {};
  // An odd last byte is no character; the byte-order mark is just one more.
  if (FindVersionText(output.buffer.Bytes(), output.Length() / 2, text) !=
      VersionTextSearch::Found) {
    output.file.Close();
    if (!verbose) Print(u"Fail\n\n");
    Print(u"Error F07: Not Find Version sting.\n");
    return PLAT_NOT_FOUND;
  }
  if (verbose) Print(tool.trace_text, static_cast<const char16_t *>(text));
  ParseFwVersionText(text, version);
  output.file.Close();
  if (!verbose) PlatFileDeleteByName(tool.output_file);
  return PLAT_SUCCESS;
}

PlatStatus ReadMeInfoToolVersion(FwVersion *version, uint8_t verbose) {
  return ReadInfoToolVersion(kMeInfoTool, version, verbose);
}

PlatStatus ReadTxeInfoToolVersion(FwVersion *version, uint8_t verbose) {
  return ReadInfoToolVersion(kTxeInfoTool, version, verbose);
}
