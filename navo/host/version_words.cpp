#include "navo/host/version_words.h"

#include <cstdio>
#include <span>

#include "navo/fw_version/version_text.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/posix_platform.h"
#include "platform/print.h"

namespace {

// The kind name in the advice lines: the tools read ME and TXE images alike
// and speak of ME, the common case.
constexpr const char16_t *kKindName = u"ME";

}  // namespace

std::string VersionText(const FwVersion &v) {
  return std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." + std::to_string(v.HotFix) +
         "." + std::to_string(v.Build);
}

const char *DecisionName(UpdateDecision d) {
  switch (d) {
    case UpdateDecision::Update: return "update";
    case UpdateDecision::Downgrade: return "downgrade";
    case UpdateDecision::SameVersion: break;
  }
  return "same version";
}

std::string AdviceText(UpdateDecision d) {
  char16_t line[plat::kMaxPrintChars + 1];
  plat::Format(std::span<char16_t>(line), UpdateAdvice(d), kKindName);
  std::string out;
  for (const char16_t *c = line; *c != 0 && *c != u'\r' && *c != u'\n'; ++c) AppendBytes(out, *c);
  return out;
}

// The board's parser. Its failure text is for a progress line on the board's
// console ("Fail", an empty line, F08); here only the error line is kept, on
// one line with the option and the text it refused.
bool ParseVersionOption(const char *tool, std::string_view option, const char *text,
                        std::optional<FwVersion> *out) {
  std::u16string wide;
  for (const char *c = text; *c != 0; ++c) wide += static_cast<char16_t>(static_cast<unsigned char>(*c));
  FwVersion v{};
  std::string said;
  PosixConsoleCapture(&said);
  const PlatStatus parsed = ParseFwVersionText(wide.c_str(), &v);
  PosixConsoleCapture(nullptr);
  const std::string named = std::string(option) + " " + NameForMessage(text);
  if (parsed != PLAT_SUCCESS) {
    const std::size_t error = said.find("Error F");
    std::string line = error == std::string::npos ? said : said.substr(error);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    static_cast<void>(std::fprintf(stderr, "%s: %s: %s\n", tool, named.c_str(), line.c_str()));
    return false;
  }
  if (!HasFwVersion(v)) {
    static_cast<void>(std::fprintf(stderr, "%s: %s: a Major of 0 is no version\n", tool, named.c_str()));
    static_cast<void>(std::fprintf(stderr, "Try '%s --help'.\n", tool));
    return false;
  }
  *out = v;
  return true;
}
