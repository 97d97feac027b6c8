// JSON strings for text that arrives as bytes (file names on Linux), for CI
// tools with strict parsers: UTF-8 passes unchanged, characters beyond the
// 16-bit range included, and nothing else ever reaches the output, so the
// result is always valid JSON.
#ifndef NAVO_HOST_JSON_TEXT_H_
#define NAVO_HOST_JSON_TEXT_H_

#include <string>
#include <string_view>

// Appends `bytes` as a quoted JSON string. Every ill-formed part of the
// bytes becomes one U+FFFD, by the maximal-subpart rule that Python's, ICU's
// and the browsers' decoders follow, so a tool that decodes the bytes itself
// with replacement gets the same string. Returns false when anything was
// replaced, i.e. when the bytes are not UTF-8.
bool AppendJsonString(std::string &out, std::string_view bytes);

// The bytes as lower-case hexadecimal, two digits each.
std::string HexBytes(std::string_view bytes);

#endif  // NAVO_HOST_JSON_TEXT_H_
