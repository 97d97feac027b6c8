#include "platform/uefi/shell_nesting.h"

#include <string_view>

namespace {

// The shell sets the variable to "True" or "False"; a user may have typed it.
bool EqualsIgnoringCase(const PlatChar16 *text, std::u16string_view word) {
  std::size_t i = 0;
  for (; i < word.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\0') return false;
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    char16_t w = word[i];
    if (w >= u'a' && w <= u'z') w = static_cast<char16_t>(w - 0x20);
    if (c != w) return false;
  }
  return text[i] == u'\0';
}

}  // namespace

extern "C" int PlatExecuteNeedsQuietPrefix(int HasShellProtocol, const PlatChar16 *Nonesting) {
  if (HasShellProtocol == 0) return 0;
  if (Nonesting != nullptr && EqualsIgnoringCase(Nonesting, u"True")) return 0;
  return 1;
}
