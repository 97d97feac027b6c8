#include "navo/host/image_report.h"

#include <cstdio>
#include <string>

#include "chksum/chksum.h"
#include "platform/posix/byte_names.h"
#include "platform/print.h"

namespace {

// The kind name in the advice lines: the tool reads ME and TXE images alike
// and speaks of ME, the common case.
constexpr const char16_t *kKindName = u"ME";

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

// The advice line as the board prints it, without its line end.
std::string AdviceText(UpdateDecision d) {
  char16_t line[plat::kMaxPrintChars + 1];
  plat::Format(std::span<char16_t>(line), UpdateAdvice(d), kKindName);
  std::string out;
  for (const char16_t *c = line; *c != 0 && *c != u'\r' && *c != u'\n'; ++c) AppendBytes(out, *c);
  return out;
}

void PrintVersionLine(const char *label, const FwVersion &v, const char *behind) {
  std::printf("%-21s: %s%s\n", label, VersionText(v).c_str(), behind);
}

// A JSON string: the name's characters as UTF-8, bytes that are not UTF-8 as
// the escapes \udc80..\udcff (Python's surrogateescape reads them back).
std::string JsonString(const std::string &bytes) {
  std::string out = "\"";
  for (char16_t c : Ucs2FromBytes(bytes)) {
    char escaped[8];
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (c >= 0xDC80 && c <= 0xDCFF)) {
      static_cast<void>(std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c)));
      out += escaped;
    } else {
      AppendBytes(out, c);
    }
  }
  return out + "\"";
}

std::string JsonVersion(bool present, const FwVersion &v) {
  return present ? "\"" + VersionText(v) + "\"" : "null";
}

}  // namespace

bool SameVersion(const FwVersion &a, const FwVersion &b) { return CompareFwVersion(a, b) == 0; }

bool MeetsExpectation(const ImageFacts &facts, const ReportRequest &request) {
  if (!HasVersion(facts)) return false;
  return !request.expect || SameVersion(facts.version, *request.expect);
}

void PrintTextReport(const char *name, const ImageFacts &facts, const ReportRequest &request) {
  const std::u16string name16 = Ucs2FromBytes(name);
  chksum::PrintChksumReport(name16.c_str(), facts.size, facts.sum);
  const bool has_version = HasVersion(facts);
  if (has_version) {
    PrintVersionLine("FW version", facts.version, "");
  } else if (facts.manifest) {
    std::printf("%-21s: none (the FTPR manifest gives %s)\n", "FW version", VersionText(facts.version).c_str());
  } else {
    std::printf("%-21s: no FTPR manifest\n", "FW version");
  }
  if (request.expect) {
    const bool match = has_version && SameVersion(facts.version, *request.expect);
    PrintVersionLine("Expected version", *request.expect, match ? ", matches" : ", differs");
  }
  if (request.board) {
    PrintVersionLine("Board version", *request.board, "");
    if (!has_version) {
      std::printf("%-21s: none, the image has no version\n", "Decision");
      return;
    }
    const UpdateDecision d = DecideUpdate(*request.board, facts.version);
    std::printf("%-21s: %s\n", "Decision", DecisionName(d));
    std::printf("%s\n", AdviceText(d).c_str());
  }
}

void PrintJsonReport(const char *name, const ImageFacts &facts, const ReportRequest &request) {
  const bool has_version = HasVersion(facts);
  char sums[64];
  static_cast<void>(std::snprintf(sums, sizeof sums, "\"sum32\": \"0x%08X\", \"sum16\": \"%04X\"", facts.sum,
                facts.sum & 0xFFFFu));
  std::string line = "{\"file\": " + JsonString(name) + ", \"size\": " + std::to_string(facts.size) +
                     ", " + sums + ", \"manifest\": " + JsonVersion(facts.manifest, facts.version) +
                     ", \"version\": " + JsonVersion(has_version, facts.version);
  if (request.expect) line += std::string(", \"expect\": ") + (MeetsExpectation(facts, request) ? "true" : "false");
  if (request.board) {
    line += ", \"board\": " + JsonVersion(true, *request.board);
    if (has_version) {
      const UpdateDecision d = DecideUpdate(*request.board, facts.version);
      line += std::string(", \"decision\": \"") + DecisionName(d) + "\", \"advice\": " + JsonString(AdviceText(d));
    } else {
      line += ", \"decision\": null, \"advice\": null";
    }
  }
  line += "}\n";
  static_cast<void>(std::fwrite(line.data(), 1, line.size(), stdout));
}

void PrintJsonFailure(const char *name, const char *reason) {
  const std::string line = "{\"file\": " + JsonString(name) + ", \"error\": " + JsonString(reason) + "}\n";
  static_cast<void>(std::fwrite(line.data(), 1, line.size(), stdout));
}
