// File names on Linux are bytes. The tools carry text as UCS-2, so a name
// passes through UCS-2 and back unchanged: UTF-8 of the 16-bit range becomes
// its character, every other byte b becomes the lone surrogate U+DC00 + b (as
// Python's "surrogateescape" does), and the way back restores the byte.
#ifndef PLATFORM_POSIX_BYTE_NAMES_H_
#define PLATFORM_POSIX_BYTE_NAMES_H_

#include <string>
#include <string_view>

std::u16string Ucs2FromBytes(std::string_view bytes);

// Appends the bytes of one UCS-2 character: UTF-8, or the escaped byte.
void AppendBytes(std::string &out, char16_t c);

std::string BytesFromUcs2(const char16_t *text);

#endif  // PLATFORM_POSIX_BYTE_NAMES_H_
