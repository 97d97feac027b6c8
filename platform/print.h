// Console printing with the UEFI print library's conversions, shared by both
// tools and both platform implementations so that what the host tests see is
// byte for byte what the firmware shows.
//
// Conversions: %s and %S (UCS-2 string), %a (ASCII string), %c, %d, %u, %x, %X,
// %%, with the flags '-', '0', a width, and 'l'/'L' for 64-bit values. As in the
// UEFI library, hexadecimal digits are upper case for %x too, %X pads with zeros
// to its width, values without 'l' are taken as 32-bit, a NULL string prints as
// "<null string>", and a "\n" of the format (not of an argument) becomes "\r\n".
#ifndef PLATFORM_PRINT_H_
#define PLATFORM_PRINT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "platform/platform.h"

namespace plat {

// One formatted console write holds at most this many characters, like the
// UEFI library's Print.
inline constexpr std::size_t kMaxPrintChars = 320;

struct PrintArg {
  enum class Kind : uint8_t { Signed, Unsigned, Wide, Narrow };
  Kind kind;
  union {
    int64_t s;
    uint64_t u;
    const char16_t *wide;
    const char *narrow;
  };
};

template <class T>
constexpr PrintArg MakePrintArg(T value) {
  PrintArg a{};
  if constexpr (std::is_same_v<std::decay_t<T>, const char16_t *> ||
                std::is_same_v<std::decay_t<T>, char16_t *>) {
    a.kind = PrintArg::Kind::Wide;
    a.wide = value;
  } else if constexpr (std::is_same_v<std::decay_t<T>, const char *> ||
                       std::is_same_v<std::decay_t<T>, char *>) {
    a.kind = PrintArg::Kind::Narrow;
    a.narrow = value;
  } else if constexpr (std::is_same_v<std::decay_t<T>, std::nullptr_t>) {
    a.kind = PrintArg::Kind::Wide;
    a.wide = nullptr;
  } else if constexpr (std::is_enum_v<T>) {
    a.kind = PrintArg::Kind::Unsigned;
    a.u = static_cast<uint64_t>(value);
  } else {
    static_assert(std::is_integral_v<T>, "unsupported print argument");
    if constexpr (std::is_signed_v<T>) {
      a.kind = PrintArg::Kind::Signed;
      a.s = value;
    } else {
      a.kind = PrintArg::Kind::Unsigned;
      a.u = value;
    }
  }
  return a;
}

// Formats into out (always NUL-terminated when out is not empty) and returns the
// number of characters written, without the NUL.
std::size_t FormatArgs(std::span<char16_t> out, const char16_t *format,
                       std::span<const PrintArg> args);

template <class... A>
std::size_t Format(std::span<char16_t> out, const char16_t *format, A... args) {
  const PrintArg list[sizeof...(A) + 1] = {MakePrintArg(args)...};
  return FormatArgs(out, format, std::span<const PrintArg>(list, sizeof...(A)));
}

void PrintArgs(const char16_t *format, std::span<const PrintArg> args);

// While one lives, Print writes nothing: for a program that runs the utility's
// readers for their results and tells the outcome in words of its own.
class QuietPrint {
 public:
  QuietPrint();
  ~QuietPrint();
  QuietPrint(const QuietPrint &) = delete;
  QuietPrint &operator=(const QuietPrint &) = delete;
};

}  // namespace plat

// The one formatted console print of both tools.
template <class... A>
void Print(const char16_t *format, A... args) {
  const plat::PrintArg list[sizeof...(A) + 1] = {plat::MakePrintArg(args)...};
  plat::PrintArgs(format, std::span<const plat::PrintArg>(list, sizeof...(A)));
}

#endif  // PLATFORM_PRINT_H_
