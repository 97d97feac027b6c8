// navo-image: what a BIOS image carries (size, byte sums, ME/TXE firmware
// version) and what NAVO would decide on a board, read on Linux with the
// board's own locator, version parser and comparison, for release pipelines.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "navo/fw_version/image_version.h"
#include "platform/posix/command_words.h"
#include "navo/host/image_facts.h"
#include "navo/host/navo-image/image_report.h"
#include "navo/host/version_words.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/tool_io.h"
#include "platform/posix/tools_version.h"

namespace {

namespace status {
constexpr int kOk = 0;
constexpr int kNoVersion = 1;  // a file without a version, or not the expected one
constexpr int kUsage = kUsageStatus;  // usage errors, unreadable files
}  // namespace status

constexpr char kTool[] = "navo-image";

constexpr char kHelp[] = R"(Usage: navo-image [--json] [--expect VERSION] [--board VERSION] FILE...
       navo-image --help | --version

Reads each BIOS image FILE once and reports its size, its byte sums as
CHKSUM.efi prints them, and the ME/TXE firmware version behind the "$MN2" tag
of its FTPR partition, found exactly as NAVO.efi finds it on the board. A
FILE of - is standard input. Of a FILE of 4 GiB or more only the first 4 GiB
are searched, as on the board (a warning on standard error says so).

  --expect VERSION  also say whether the image carries VERSION
  --board VERSION   also say what NAVO.efi -CHKMEVER would decide on a board
                    running VERSION: update, downgrade or same version, with
                    its advice line
  --json            one JSON object per file, each on its own line
  --help            this text
  --version         the tools' version: a.b.c for a release build,
                    a.b.c+gCOMMIT between releases
  --                ends the options, for a FILE that begins with -

Options that take VERSION also take it as --expect=VERSION.

VERSION is four decimal numbers separated by dots, as NAVO.efi -N takes it
(e.g. 12.0.64.1551); a Major of 0 is no version.

JSON keys:
  file      the name as given, in UTF-8; where its bytes are not UTF-8,
            U+FFFD stands for them
  file_hex  only when the name is not UTF-8: its exact bytes, in hex
  size      the file's size in bytes
  sum32     the 32-bit sum of its bytes, "0x%08X"
  sum16     its low 16 bits, "%04X" (the BIOS history records' figure)
  manifest  the four numbers behind the FTPR manifest tag, or null when
            there is no FTPR manifest
  version   the firmware version: manifest when its Major is not 0, else null
  directory_offset  where the FTPR directory header begins (also one cut
            by the image's end), or null
  manifest_offset   where the manifest tag begins, or null
  reason    why there is no FTPR manifest, or null when there is one:
            "no FTPR directory", "FTPR header in the last 15 bytes" (where
            its 16 bytes cannot fit), "no manifest tag in the partition"
  expect    with --expect: true when version equals VERSION
  board     with --board: VERSION
  decision  with --board: "update", "downgrade", "same version", or null
            when the image has no version
  advice    with --board: the board's advice line, or null
  error     instead of all but file and file_hex: why the file could not
            be read

Exit status:
  0   every file has a version (and it is the --expect VERSION)
  1   a file has no version, or not the --expect VERSION
  2   usage errors, files that cannot be read, or output that cannot be
      written
  With one FILE and --board, a run that would give 0 gives the board tool's
  status instead: 64 for update or downgrade, 69 for the same version.
A closed pipe ends navo-image quietly by SIGPIPE, as it ends cat.
)";

struct Options {
  bool json = false;
  ReportRequest request;
  std::vector<const char *> files;
};

// 0 when the command line is good, else the exit status of a usage error.
int ParseOptions(CommandWords *words, Options *o) {
  for (;;) {
    switch (words->Next()) {
      case CommandWords::Kind::End:
        if (words->asked() == Asked::Run && o->files.empty()) return words->UsageError("no FILE given");
        return status::kOk;
      case CommandWords::Kind::Operand:
        o->files.push_back(words->word());
        break;
      case CommandWords::Kind::Option: {
        const std::string_view option = words->option();
        if (words->IsFlag("--json")) {
          o->json = true;
        } else if (option == "--expect" || option == "--board") {
          const char *value = words->Value("VERSION");
          if (value == nullptr) return status::kUsage;
          std::optional<FwVersion> &slot = option == "--expect" ? o->request.expect : o->request.board;
          if (slot) return words->UsageError("given twice: " + std::string(option));
          if (!ParseVersionOption(kTool, option, value, &slot)) return status::kUsage;
        } else {
          return words->UnknownOption();
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  EndQuietlyOnClosedPipes();
  Options options;
  CommandWords words(kTool, argc, argv);
  if (int done = 0; AnsweredBeforeRun(kTool, kHelp, ParseOptions(&words, &options), words, &done))
    return done;

  bool unreadable = false;
  bool short_of_expectation = false;
  bool reported = false;
  std::optional<UpdateDecision> decision;
  for (const char *name : options.files) {
    ImageFacts facts{};
    StreamFailure failure{};
    if (!ReadImageFacts(name, &facts, &failure)) {
      const std::string reason = StreamFailureText(failure);
      static_cast<void>(std::fflush(stdout));
      static_cast<void>(std::fprintf(stderr, "%s: %s: %s\n", kTool, NameForMessage(name).c_str(), reason.c_str()));
      if (options.json) PrintJsonFailure(name, reason.c_str());
      unreadable = true;
      continue;
    }
    if (facts.size > kMaxSearchedImageBytes) {
      static_cast<void>(std::fflush(stdout));
      static_cast<void>(std::fprintf(stderr,
                                     "%s: %s: 4 GiB or larger; only its first 4 GiB (%u bytes) are searched, "
                                     "as on the board\n",
                                     kTool, NameForMessage(name).c_str(), kMaxSearchedImageBytes));
    }
    if (options.json) {
      PrintJsonReport(name, facts, options.request);
    } else {
      if (reported) static_cast<void>(std::fputs("\n", stdout));
      PrintTextReport(name, facts, options.request);
    }
    reported = true;
    // A full disk takes every report after it as well: read no more images.
    if (!StandardOutputIntact()) break;
    if (!MeetsExpectation(facts, options.request)) short_of_expectation = true;
    if (options.request.board && HasVersion(facts))
      decision = DecideUpdate(*options.request.board, facts.version);
  }

  const bool written = FinishStandardOutput(kTool);
  if (unreadable || !written) return status::kUsage;
  if (short_of_expectation) return status::kNoVersion;
  if (options.files.size() == 1 && decision)
    return *decision == UpdateDecision::SameVersion ? exit_status::kNoUpdate : exit_status::kUpdate;
  return status::kOk;
}
