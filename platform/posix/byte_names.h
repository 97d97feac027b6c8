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

// The length of the well-formed UTF-8 sequence at p (any character, U+10FFFF
// at most), or 0 with *bad set to the length of the ill-formed part that one
// U+FFFD stands for by the maximal-subpart rule (at least 1).
std::size_t Utf8SequenceAt(std::string_view s, std::size_t p, std::size_t *bad);

// A name as a message on standard error shows it. A name with a control
// character, a byte that is not UTF-8, or no byte at all is quoted as a shell
// reads it back ('a'$'\n''b', $'\033''[2J', ''), so that a crafted name
// cannot forge a line or send a terminal its escapes; every other name, with
// spaces, quotes or characters past ASCII, is shown as it is.
std::string NameForMessage(std::string_view bytes);

#endif  // PLATFORM_POSIX_BYTE_NAMES_H_
