#include "navo/host/navo-image/image_report.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "chksum/report.h"
#include "navo/host/json_text.h"
#include "navo/host/version_words.h"
#include "platform/posix/byte_names.h"

namespace {

void PrintVersionLine(const char *label, const FwVersion &v, const char *behind) {
  std::printf("%-21s: %s%s\n", label, VersionText(v).c_str(), behind);
}

std::string JsonString(std::string_view bytes) {
  std::string out;
  static_cast<void>(AppendJsonString(out, bytes));
  return out;
}

// The name, and when it is not UTF-8 its exact bytes as well: the string
// alone cannot give them back.
std::string JsonName(std::string_view name) {
  std::string out = "\"file\": ";
  if (!AppendJsonString(out, name)) out += ", \"file_hex\": \"" + HexBytes(name) + "\"";
  return out;
}

std::string JsonOffset(bool known, uint64_t offset) { return known ? std::to_string(offset) : "null"; }

// Why an image has no FTPR manifest; nullptr when it has one.
const char *MissReason(ImageScanMiss miss) {
  switch (miss) {
    case ImageScanMiss::NoDirectory: return "no FTPR directory";
    case ImageScanMiss::HeaderAtEnd: return "FTPR header in the last 15 bytes";
    case ImageScanMiss::NoTag: return "no manifest tag in the partition";
    case ImageScanMiss::None: break;
  }
  return nullptr;
}

// The reason with the offset that helps to find it in a hex editor.
std::string MissText(const ImageScanFindings &f) {
  const char *reason = MissReason(f.miss);
  std::string text = reason != nullptr ? reason : "";
  char where[64];
  if (f.miss == ImageScanMiss::HeaderAtEnd) {
    static_cast<void>(std::snprintf(where, sizeof where, ", at 0x%llX", static_cast<unsigned long long>(f.directory)));
    text += where;
  } else if (f.miss == ImageScanMiss::NoTag) {
    static_cast<void>(std::snprintf(where, sizeof where, ", FTPR directory at 0x%llX",
                                    static_cast<unsigned long long>(f.directory)));
    text += where;
  }
  return text;
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
    std::printf("%-21s: no FTPR manifest (%s)\n", "FW version", MissText(facts.findings).c_str());
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
  const ImageScanFindings &f = facts.findings;
  const char *reason = MissReason(f.miss);
  std::string line = "{" + JsonName(name) + ", \"size\": " + std::to_string(facts.size) + ", " + sums +
                     ", \"manifest\": " + JsonVersion(facts.manifest, facts.version) +
                     ", \"version\": " + JsonVersion(has_version, facts.version) +
                     ", \"directory_offset\": " + JsonOffset(f.has_directory, f.directory) +
                     ", \"manifest_offset\": " + JsonOffset(f.has_manifest, f.manifest) +
                     ", \"reason\": " + (reason != nullptr ? JsonString(reason) : "null");
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
  const std::string line = "{" + JsonName(name) + ", \"error\": " + JsonString(reason) + "}\n";
  static_cast<void>(std::fwrite(line.data(), 1, line.size(), stdout));
}
