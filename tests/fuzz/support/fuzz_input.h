// Reading a fuzz input as a stream of small decisions and texts. Everything
// here is total: reading past the end gives zeros or empty texts, so a target
// never has to check how much input is left.
#ifndef TESTS_FUZZ_SUPPORT_FUZZ_INPUT_H_
#define TESTS_FUZZ_SUPPORT_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "navo/types.h"

namespace fuzz {

class Input {
 public:
  Input(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  std::size_t Left() const { return Empty() ? 0 : size_ - pos_; }

  uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
  uint16_t Le16() {
    uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | Byte() << 8);
  }
  // Up to n bytes (fewer when the input ends).
  std::vector<uint8_t> Bytes(std::size_t n) {
    if (n > Left()) n = Left();
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::vector<uint8_t> Rest() { return Bytes(Left()); }

 private:
  const uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Turns bytes into 16-bit text: each byte is the character of that value,
// except 0xFE, which takes the next two bytes (little-endian) as one character
// of any value. Most of what the tools read from outside is ASCII; the escape
// still lets the fuzzer reach characters whose low byte looks like ASCII.
inline std::u16string DecodeText16(const std::vector<uint8_t> &bytes) {
  std::u16string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0xFE && i + 2 < bytes.size()) {
      text += static_cast<char16_t>(bytes[i + 1] | bytes[i + 2] << 8);
      i += 2;
    } else {
      text += static_cast<char16_t>(bytes[i]);
    }
  }
  return text;
}

// A NUL-terminated copy in a buffer of exactly its size, so that AddressSanitizer
// sees any read or write past the terminator.
inline std::unique_ptr<char16_t[]> ExactCopy(const std::u16string &text) {
  std::unique_ptr<char16_t[]> copy(new char16_t[text.size() + 1]);
  for (std::size_t i = 0; i < text.size(); ++i) copy[i] = text[i];
  copy[text.size()] = u'\0';
  return copy;
}

inline bool Same(const FwVersion &a, const FwVersion &b) {
  return a.Major == b.Major && a.Minor == b.Minor && a.HotFix == b.HotFix && a.Build == b.Build;
}

// With FUZZ_TRACE set in the environment, a line about what one input did
// (for checking that seeds reach where they are meant to).
template <typename... Args>
void Trace(const char *format, Args... args) {
  static const bool on = std::getenv("FUZZ_TRACE") != nullptr;
  if (!on) return;
  static_cast<void>(std::fprintf(stderr, format, args...));
  static_cast<void>(std::fputc('\n', stderr));
}

// A broken expectation: report it and stop the way a sanitizer would, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] inline void Fail(const char *file, int line, const char *what) {
  static_cast<void>(std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what));
  std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond); \
  } while (0)

#endif  // TESTS_FUZZ_SUPPORT_FUZZ_INPUT_H_
