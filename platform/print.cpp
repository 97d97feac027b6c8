#include "platform/print.h"

namespace plat {
namespace {

class Writer {
 public:
  explicit Writer(std::span<char16_t> out) : out_(out) {}

  void Put(char16_t c) {
    // Keep one slot for the terminator; what does not fit is dropped, as the
    // UEFI library drops it.
    if (out_.size() != 0 && length_ + 1 < out_.size()) out_[length_++] = c;
  }
  void Pad(char16_t c, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(c);
  }
  std::size_t Finish() {
    if (out_.size() != 0) out_[length_] = u'\0';
    return length_;
  }

 private:
  std::span<char16_t> out_;
  std::size_t length_ = 0;
};

// QuietPrint guards alive.
constinit unsigned g_quiet = 0;

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
constexpr char kNullString[] = "<null string>";

template <class Char>
std::size_t Length(const Char *s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

struct Spec {
  bool left = false;
  bool zero = false;
  bool wide_value = false;  // 'l' or 'L': a 64-bit value
  std::size_t width = 0;
};

void PutPadded(Writer &w, const Spec &spec, std::size_t length, auto &&emit) {
  std::size_t pad = spec.width > length ? spec.width - length : 0;
  if (!spec.left) w.Pad(u' ', pad);
  emit();
  if (spec.left) w.Pad(u' ', pad);
}

void PutNumber(Writer &w, Spec spec, const PrintArg *arg, bool hex, bool is_signed) {
  uint64_t raw = 0;
  if (arg != nullptr) raw = arg->kind == PrintArg::Kind::Signed ? static_cast<uint64_t>(arg->s) : arg->u;
  bool negative = false;
  uint64_t magnitude;
  if (spec.wide_value) {
    magnitude = raw;
    if (is_signed && static_cast<int64_t>(raw) < 0) {
      negative = true;
      magnitude = 0 - raw;
    }
  } else {
    uint32_t low = static_cast<uint32_t>(raw);
    magnitude = low;
    if (is_signed && static_cast<int32_t>(low) < 0) {
      negative = true;
      magnitude = static_cast<uint32_t>(0u - low);
    }
  }
  char16_t digits[24];
  std::size_t count = 0;
  const unsigned radix = hex ? 16 : 10;
  do {
    digits[count++] = kHexDigits[magnitude % radix];
    magnitude /= radix;
  } while (magnitude != 0);

  std::size_t length = count + (negative ? 1 : 0);
  if (spec.zero && !spec.left) {
    if (negative) w.Put(u'-');
    if (spec.width > length) w.Pad(u'0', spec.width - length);
    while (count != 0) w.Put(digits[--count]);
    return;
  }
  PutPadded(w, spec, length, [&] {
    if (negative) w.Put(u'-');
    while (count != 0) w.Put(digits[--count]);
  });
}

}  // namespace

std::size_t FormatArgs(std::span<char16_t> out, const char16_t *format,
                       std::span<const PrintArg> args) {
  Writer w(out);
  std::size_t next = 0;
  auto take = [&]() -> const PrintArg * { return next < args.size() ? &args[next++] : nullptr; };

  for (const char16_t *p = format; p != nullptr && *p != 0; ++p) {
    char16_t c = *p;
    if (c == u'\n') {
      // "\n" and "\n\r" both become "\r\n".
      w.Put(u'\r');
      w.Put(u'\n');
      if (p[1] == u'\r') ++p;
      continue;
    }
    if (c == u'\r') {
      w.Put(u'\r');
      if (p[1] == u'\n') {
        w.Put(u'\n');
        ++p;
      }
      continue;
    }
    if (c != u'%') {
      w.Put(c);
      continue;
    }

    Spec spec;
    ++p;
    for (;; ++p) {
      if (*p == u'-') {
        spec.left = true;
      } else if (*p == u'0' && spec.width == 0) {
        spec.zero = true;
      } else if (*p >= u'0' && *p <= u'9') {
        spec.width = spec.width * 10 + static_cast<std::size_t>(*p - u'0');
      } else if (*p == u'l' || *p == u'L') {
        spec.wide_value = true;
      } else if (*p == u'+' || *p == u' ' || *p == u',') {
        // Accepted and ignored: no format of these tools uses them.
      } else {
        break;
      }
    }

    switch (*p) {
      case 0:
        return w.Finish();
      case u'%':
        w.Put(u'%');
        break;
      case u'd':
        PutNumber(w, spec, take(), false, true);
        break;
      case u'u':
        PutNumber(w, spec, take(), false, false);
        break;
      case u'x':
        PutNumber(w, spec, take(), true, false);
        break;
      case u'X':
        spec.zero = true;
        PutNumber(w, spec, take(), true, false);
        break;
      case u'c': {
        const PrintArg *a = take();
        char16_t ch = a != nullptr ? static_cast<char16_t>(a->u) : u' ';
        PutPadded(w, spec, 1, [&] { w.Put(ch); });
        break;
      }
      case u's':
      case u'S':
      case u'a': {
        const PrintArg *a = take();
        const bool narrow = a != nullptr && a->kind == PrintArg::Kind::Narrow;
        const bool wide = a != nullptr && a->kind == PrintArg::Kind::Wide;
        if (narrow && a->narrow != nullptr) {
          const char *s = a->narrow;
          PutPadded(w, spec, Length(s), [&] {
            for (; *s != 0; ++s) w.Put(static_cast<unsigned char>(*s));
          });
        } else if (wide && a->wide != nullptr) {
          const char16_t *s = a->wide;
          PutPadded(w, spec, Length(s), [&] {
            for (; *s != 0; ++s) w.Put(*s);
          });
        } else {
          PutPadded(w, spec, sizeof(kNullString) - 1, [&] {
            for (const char *s = kNullString; *s != 0; ++s) w.Put(static_cast<unsigned char>(*s));
          });
        }
        break;
      }
      default:
        // An unknown conversion prints its character, as the UEFI library does.
        w.Put(*p);
        break;
    }
  }
  return w.Finish();
}

QuietPrint::QuietPrint() { ++g_quiet; }

QuietPrint::~QuietPrint() { --g_quiet; }

void PrintArgs(const char16_t *format, std::span<const PrintArg> args) {
  if (g_quiet != 0) return;
  char16_t buffer[kMaxPrintChars + 1];
  FormatArgs(buffer, format, args);
  PlatConsoleWrite(buffer);
}

}  // namespace plat
