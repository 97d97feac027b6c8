// navo-image: what a BIOS image carries (size, byte sums, ME/TXE firmware
// version) and what NAVO would decide on a board, read on Linux with the
// board's own locator, version parser and comparison, for release pipelines.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "navo/fw_version/version_text.h"
#include "navo/host/image_facts.h"
#include "navo/host/image_report.h"
#include "platform/posix/posix_console.h"

namespace {

namespace status {
constexpr int kOk = 0;
constexpr int kNoVersion = 1;  // a file without a version, or not the expected one
constexpr int kUsage = 2;      // usage errors, unreadable files
}  // namespace status

constexpr char kHelp[] = R"(Usage: navo-image [--json] [--expect VERSION] [--board VERSION] FILE...

Reads each BIOS image FILE once and reports its size, its byte sums as
CHKSUM.efi prints them, and the ME/TXE firmware version behind the "$MN2" tag
of its FTPR partition, found exactly as NAVO.efi finds it on the board.

  --expect VERSION  also say whether the image carries VERSION
  --board VERSION   also say what NAVO.efi -CHKMEVER would decide on a board
                    running VERSION: update, downgrade or same version, with
                    its advice line
  --json            one JSON object per file, each on its own line
  --help            this text

VERSION is four decimal numbers separated by dots, as NAVO.efi -N takes it
(e.g. 12.0.64.1551); a Major of 0 is no version.

JSON keys:
  file      the name as given (bytes that are not UTF-8 as \udc80..\udcff)
  size      the file's size in bytes
  sum32     the 32-bit sum of its bytes, "0x%08X"
  sum16     its low 16 bits, "%04X" (the BIOS history records' figure)
  manifest  the four numbers behind the FTPR manifest tag, or null when
            there is no FTPR manifest
  version   the firmware version: manifest when its Major is not 0, else null
  expect    with --expect: true when version equals VERSION
  board     with --board: VERSION
  decision  with --board: "update", "downgrade", "same version", or null
            when the image has no version
  advice    with --board: the board's advice line, or null
  error     instead of all but file: why the file could not be read

Exit status:
  0   every file has a version (and it is the --expect VERSION)
  1   a file has no version, or not the --expect VERSION
  2   usage errors, files that cannot be read, or output that cannot be
      written
  With one FILE and --board, a run that would give 0 gives the board tool's
  status instead: 64 for update or downgrade, 69 for the same version.
)";

struct Options {
  bool json = false;
  ReportRequest request;
  std::vector<const char *> files;
};

int UsageError(const char *message, const char *word = nullptr) {
  if (word != nullptr)
    static_cast<void>(std::fprintf(stderr, "navo-image: %s %s\n", message, word));
  else
    static_cast<void>(std::fprintf(stderr, "navo-image: %s\n", message));
  static_cast<void>(std::fprintf(stderr, "Try 'navo-image --help'.\n"));
  return status::kUsage;
}

// The board's parser; its failure text ("Fail", an empty line, F08) goes to
// standard error, followed by a line that names the option.
bool ParseVersion(const char *option, const char *text, std::optional<FwVersion> *out) {
  std::u16string wide;
  for (const char *c = text; *c != 0; ++c) wide += static_cast<char16_t>(static_cast<unsigned char>(*c));
  FwVersion v{};
  static_cast<void>(std::fflush(stdout));
  PosixConsoleToStandardError(true);
  const PlatStatus parsed = ParseFwVersionText(wide.c_str(), &v);
  PosixConsoleToStandardError(false);
  if (parsed != PLAT_SUCCESS) {
    UsageError((std::string(option) + " " + text + " is not a version").c_str());
    return false;
  }
  if (v.Major == 0) {
    UsageError((std::string(option) + " " + text + ": a Major of 0 is no version").c_str());
    return false;
  }
  *out = v;
  return true;
}

// 0 when the command line is good, else the exit status (help, usage error).
int ParseOptions(int argc, char **argv, Options *o, bool *help) {
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (options_end || word.empty() || word[0] != '-' || word == "-") {
      o->files.push_back(argv[i]);
      continue;
    }
    if (word == "--") {
      options_end = true;
    } else if (word == "--help" || word == "-h") {
      *help = true;
    } else if (word == "--json") {
      o->json = true;
    } else if (word == "--expect" || word == "--board") {
      if (i + 1 >= argc) return UsageError("missing VERSION after", argv[i]);
      std::optional<FwVersion> &slot = word == "--expect" ? o->request.expect : o->request.board;
      if (slot) return UsageError("given twice:", argv[i]);
      if (!ParseVersion(argv[i], argv[i + 1], &slot)) return status::kUsage;
      ++i;
    } else {
      return UsageError("unknown option", argv[i]);
    }
  }
  if (!*help && o->files.empty()) return UsageError("no FILE given");
  return status::kOk;
}

std::string Reason(const StreamFailure &failure) {
  if (failure.error == EISDIR) return "is a directory";
  return std::string(failure.stage == StreamStage::Open ? "cannot open: " : "cannot read: ") +
         std::strerror(failure.error);
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  bool help = false;
  if (const int bad = ParseOptions(argc, argv, &options, &help); bad != status::kOk) return bad;
  if (help) {
    static_cast<void>(std::fputs(kHelp, stdout));
    return std::fflush(stdout) == 0 ? status::kOk : status::kUsage;
  }

  bool unreadable = false;
  bool short_of_expectation = false;
  bool reported = false;
  std::optional<UpdateDecision> decision;
  for (const char *name : options.files) {
    ImageFacts facts{};
    StreamFailure failure{};
    if (!ReadImageFacts(name, &facts, &failure)) {
      const std::string reason = Reason(failure);
      static_cast<void>(std::fflush(stdout));
      static_cast<void>(std::fprintf(stderr, "navo-image: %s: %s\n", name, reason.c_str()));
      if (options.json) PrintJsonFailure(name, reason.c_str());
      unreadable = true;
      continue;
    }
    if (options.json) {
      PrintJsonReport(name, facts, options.request);
    } else {
      if (reported) static_cast<void>(std::fputs("\n", stdout));
      PrintTextReport(name, facts, options.request);
    }
    reported = true;
    if (!MeetsExpectation(facts, options.request)) short_of_expectation = true;
    if (options.request.board && HasVersion(facts))
      decision = DecideUpdate(*options.request.board, facts.version);
  }

  const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (unreadable || !written) return status::kUsage;
  if (short_of_expectation) return status::kNoVersion;
  if (options.files.size() == 1 && decision)
    return *decision == UpdateDecision::SameVersion ? exit_status::kNoUpdate : exit_status::kUpdate;
  return status::kOk;
}
