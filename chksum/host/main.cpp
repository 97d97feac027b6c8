// CHKSUM for Linux: the same logic and report as CHKSUM.efi, for checking
// images on a build machine before they go onto a board.
//
// The exit status is 0 on success; a failing file operation's UEFI status is
// folded into a shell exit code by its low byte (EFI_NOT_FOUND -> 14), and 1
// when that byte is 0.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "chksum/chksum.h"

namespace {

// UTF-8 to UCS-2; what UCS-2 cannot hold, or malformed input, becomes U+FFFD.
std::u16string ToUcs2(const char *text) {
  std::u16string out;
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  while (*p != 0) {
    char32_t c = *p;
    int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (extra < 0) {
      out += u'\uFFFD';
      ++p;
      continue;
    }
    c &= extra == 0 ? 0x7F : (0x3F >> extra);
    ++p;
    bool ok = true;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (*p & 0x3F);
    }
    out += ok && c <= 0xFFFF ? static_cast<char16_t>(c) : u'\uFFFD';
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::u16string> words;
  words.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) words.push_back(ToUcs2(argv[i]));
  std::vector<PlatChar16 *> vector;
  vector.reserve(words.size() + 1);
  for (auto &w : words) vector.push_back(w.data());
  vector.push_back(nullptr);

  const uint64_t status = ChksumMain(static_cast<uint64_t>(argc), vector.data());
  // A report that could not be written (a full disk, a closed pipe) is no
  // report: the caller must not take the run for a success.
  const bool reported = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (status == 0) return reported ? 0 : 1;
  return (status & 0xFF) != 0 ? static_cast<int>(status & 0xFF) : 1;
}
