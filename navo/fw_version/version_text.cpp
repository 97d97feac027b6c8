#include "navo/fw_version/version_text.h"

#include "platform/print.h"

namespace {

constexpr uint32_t kFields = 4;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

PlatStatus ParseFwVersionText(const char16_t *text, FwVersion *version) {
  uint16_t values[kFields] = {};
  uint32_t digits[kFields] = {};
  uint32_t field = 0;
  bool ok = text != nullptr;

  // Every way out of this walk is bounded by the first fault: a fourth dot or a
  // fifth digit in one field ends it, so even a text of thousands of characters
  // is looked at only up to its first twenty.
  for (const char16_t *c = text; ok && *c != u'\0'; ++c) {
    if (*c == u'.') {
      ok = ++field < kFields;
    } else if (IsDigit(*c)) {
      ok = ++digits[field] <= kMaxVersionFieldDigits;
      if (ok) values[field] = static_cast<uint16_t>(values[field] * 10 + (*c - u'0'));
    } else {
      ok = false;
    }
  }
  ok = ok && field == kFields - 1;

  if (!ok) {
    Print(u"Fail\n\n");
    Print(u"Error F08: ME/TXE FW version contains non-digits.\n");
    *version = FwVersion{0, 0, 0, 0};
    return PLAT_NOT_FOUND;
  }
  *version = FwVersion{values[0], values[1], values[2], values[3]};
  return PLAT_SUCCESS;
}
