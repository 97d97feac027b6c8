// The version text parser on arbitrary 16-bit texts, against a model of the
// rule: digits and exactly three dots, at most four digits per field. The text
// must not change, and a failure prints exactly the F08 lines.
#include <cstdint>
#include <string>

#include "navo/fw_version/version_text.h"
#include "tests/sim/sim_board.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

bool Model(const std::u16string &text, FwVersion *v) {
  uint32_t values[4] = {};
  uint32_t digits[4] = {};
  std::size_t field = 0;
  for (char16_t c : text) {
    if (c == u'.') {
      if (++field > 3) return false;
    } else if (c >= u'0' && c <= u'9') {
      if (++digits[field] > 4) return false;
      values[field] = values[field] * 10 + (c - u'0');
    } else {
      return false;
    }
  }
  if (field != 3) return false;
  *v = FwVersion{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                 static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3])};
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::Input in(data, size);
  std::u16string text = fuzz::DecodeText16(in.Rest());
  if (const auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);  // as the parser sees it
  auto copy = fuzz::ExactCopy(text);

  sim::Board board;
  FwVersion version{0x1111, 0x2222, 0x3333, 0x4444};
  const PlatStatus status = ParseFwVersionText(copy.get(), &version);

  FUZZ_CHECK(std::u16string(copy.get()) == text);
  FwVersion expected{};
  if (Model(text, &expected)) {
    FUZZ_CHECK(status == PLAT_SUCCESS);
    FUZZ_CHECK(fuzz::Same(version, expected));
    FUZZ_CHECK(board.console().screen().Raw().empty());
  } else {
    FUZZ_CHECK(status == PLAT_NOT_FOUND);
    FUZZ_CHECK(fuzz::Same(version, FwVersion{0, 0, 0, 0}));
    FUZZ_CHECK(board.console().screen().Raw() ==
               u"Fail\r\n\r\nError F08: ME/TXE FW version contains non-digits.\r\n");
  }
  return 0;
}
