// The information tool's output on arbitrary bytes: the "FW Version" search
// against a model that tries every position and scans to the end of the text,
// then the whole read through the simulated shell (tool run, output file
// loaded, searched, parsed), which must release every buffer and handle on
// every path.
//
// Input: one byte of set-up (bit 0: the tool is missing; bit 1: the pool
// refuses large buffers; bit 2: reading the output file fails), then the
// bytes of the output file as the tool leaves it.
#include <cstdint>
#include <string>
#include <vector>

#include "navo/fw_version/info_tool.h"
#include "navo/fw_version/version_text.h"
#include "tests/sim/sim_board.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

constexpr std::u16string_view kLabel = u"FW Version";

bool IsVersionChar(char16_t c) { return (c >= u'0' && c <= u'9') || c == u'.'; }

// Every position is tried. The first digit or dot at or behind each place is
// looked up in a table built backwards, so that long outputs full of labels
// stay cheap to check.
VersionTextSearch Model(const std::u16string &chars, std::u16string *text) {
  std::vector<std::size_t> next(chars.size() + 1, chars.size());
  for (std::size_t i = chars.size(); i-- > 0;) next[i] = IsVersionChar(chars[i]) ? i : next[i + 1];
  for (std::size_t pos = 0; pos + kLabel.size() <= chars.size(); ++pos) {
    if (chars.compare(pos, kLabel.size(), kLabel) != 0) continue;
    std::size_t i = next[pos + kLabel.size()];
    if (i == chars.size()) continue;
    std::size_t first = i;
    while (i < chars.size() && IsVersionChar(chars[i])) ++i;
    if (i - first > kVersionTextChars) return VersionTextSearch::TooLong;
    *text = chars.substr(first, i - first);
    return VersionTextSearch::Found;
  }
  return VersionTextSearch::NotFound;
}

std::u16string Chars(const std::vector<uint8_t> &bytes) {
  std::u16string chars;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    chars += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
  return chars;
}

const std::u16string kOutputFile = u"FS0:\\MeInfoTmp.txt";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::Input in(data, size);
  const uint8_t setup = in.Byte();
  const std::vector<uint8_t> output = in.Rest();
  const std::u16string chars = Chars(output);

  // The search alone, on a buffer of exactly the output's size.
  std::vector<uint8_t> exact(output);
  char16_t text[kVersionTextChars + 1];
  for (auto &c : text) c = u'#';
  const VersionTextSearch found = FindVersionText(exact.data(), exact.size() / 2, text);
  std::u16string model_text;
  const VersionTextSearch model = Model(chars, &model_text);
  FUZZ_CHECK(found == model);
  if (found == VersionTextSearch::Found) FUZZ_CHECK(std::u16string(text) == model_text);

  // The whole method on the simulated board.
  sim::Board board;
  const bool tool_missing = setup & 1;
  if (!tool_missing) {
    board.InstallProgram(u"FS0:\\MeInfo.efi",
                         [&output](sim::Board &b, const std::vector<std::u16string> &,
                                   std::u16string &) -> PlatStatus {
                           b.PutFile(kOutputFile, output);
                           return PLAT_SUCCESS;
                         });
  }
  if (setup & 2) board.memory().SetPoolLimit(64);
  if (setup & 4) board.shell().InjectReadFailure(kOutputFile, PLAT_DEVICE_ERROR);

  FwVersion version{};
  const PlatStatus status = ReadMeInfoToolVersion(&version, 0);
  FUZZ_CHECK(board.LiveAllocations() == 0);
  FUZZ_CHECK(board.OpenFiles() == 0);

  const std::string screen = board.console().screen().Text();
  if (tool_missing) {
    FUZZ_CHECK(status == PLAT_LOAD_ERROR);
    FUZZ_CHECK(screen == "Fail\n\nError F03: An error occurs when using \"MeInfo.efi.\"\n");
  } else if ((setup & 2) && output.size() > 64) {
    FUZZ_CHECK(status == 9);
    FUZZ_CHECK(screen == "Fail\n\nError F05: Allocate a memory buffer error!\n");
  } else if (setup & 4) {
    FUZZ_CHECK(status == PLAT_DEVICE_ERROR);
    FUZZ_CHECK(screen == "Fail\n\nError F06: Read File failed!\n");
  } else if (model == VersionTextSearch::Found) {
    FUZZ_CHECK(status == PLAT_SUCCESS);
    FUZZ_CHECK(!board.HasFile(kOutputFile));
    // Whatever the parser makes of the text, the method hands on unchanged.
    sim::Board scratch;
    FwVersion parsed{};
    ParseFwVersionText(fuzz::ExactCopy(model_text).get(), &parsed);
    FUZZ_CHECK(fuzz::Same(version, parsed));
  } else {
    FUZZ_CHECK(status == PLAT_NOT_FOUND);
    FUZZ_CHECK(board.HasFile(kOutputFile));
    FUZZ_CHECK(screen == "Fail\n\nError F07: Not Find Version sting.\n");
    FUZZ_CHECK(fuzz::Same(version, FwVersion{0, 0, 0, 0}));
  }
  return 0;
}
