// navo-board: the firmware version running on this board's ME, asked through
// the Linux kernel's MEI driver with the board tool's own request and reply
// checks, and the update decision that NAVO.efi -CHKMEVER would make, for
// end-of-line scripts on Linux test stations; with --record it leaves the
// run's line in a service history, as the stick does.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "navo/fw_version/image_version.h"
#include "navo/fw_version/update_decision.h"
#include "navo/heci/client_kinds.h"
#include "navo/history/history_file.h"
#include "navo/history/record.h"
#include "navo/host/navo-board/board_read.h"
#include "navo/host/navo-board/station_record.h"
#include "platform/posix/command_words.h"
#include "navo/host/image_facts.h"
#include "navo/host/json_text.h"
#include "navo/host/version_words.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/mei_device.h"
#include "platform/posix/tool_io.h"
#include "platform/posix/tools_version.h"

namespace {

namespace status {
constexpr int kOk = 0;
constexpr int kNoVersion = 1;  // no version from the board (or none in the image)
constexpr int kUsage = kUsageStatus;  // usage errors, unreadable images, unwritable output
constexpr int kNotExpected = 3;
constexpr int kNoRecord = 4;   // --record FILE: the record could not be written
}  // namespace status

constexpr char kTool[] = "navo-board";
static_assert(kBoardReplyWaitMs == 45000, "--help, the manual and the README name the 45 seconds");

constexpr char kHelp[] = R"(Usage: navo-board [--json] [--expect VERSION] [--image FILE | --target VERSION]
                  [--record FILE [--event before|after]]
       navo-board --help | --version

Reads the ME firmware version running on this board through the kernel's MEI
driver (/dev/mei0, module mei-me): it connects to the ME's MKHI client and
sends the FTPR image-version request that NAVO.efi -RB01 sends, and judges
the reply with the same code. It prints

  ME FW version on the board: a.b.c.d

With --image or --target it then prints the lines NAVO.efi -CHKMEVER prints,
its version of the file and its advice, and exits with the status the
board tool hands its scripts; it asks nothing.

  --expect VERSION  the board must run VERSION
  --image FILE      compare with the version in the BIOS image FILE, found
                    as NAVO.efi -FILEMEVER finds it
  --target VERSION  compare with VERSION
  --json            one JSON object instead of the lines above
  --record FILE     append this run's record to the service history FILE
                    (created when missing) after the reading
  --event EVENT     with --record: "before" (the default), a reading before
                    the board is updated, or "after", the reading that
                    checks an update
  --help            this text
  --version         the tools' version

Options that take a value also take it as --option=VALUE; "--" ends the
options. VERSION is four decimal numbers separated by dots (e.g.
12.0.64.1551); a Major of 0 is no version, also in the ME's reply, as on the
board. The ME gets 45 seconds to answer, as long as the board waits for it.

With --record, every run that gets past its options appends one line to
FILE, in the service stick's format (navo-history reads both): source
"station", the time in UTC, the board's identity from /sys/class/dmi/id
(vendor, product, serial, UUID, BIOS version; serial and UUID are readable
by root only and stay empty otherwise), the board's version (empty when none
was read), the --image file's name, version, size and sums as chksum prints
them (with --target only its version), the decision ("update", "downgrade",
"same" or "none") and the exit status below. A failed reading is recorded
too: a station shows which boards were tried.

JSON keys:
  version       the board's version, or null when it could not be read
  error         only on failure: its cause, as on standard error
  fwu_status    with error: the board code's FwuStatus for the ME's reply
                (0 for a version with Major 0), or null when the failure
                came before a reply
  expect        with --expect: true when the board runs VERSION
  file          with --image: FILE (file_hex: its bytes, when not UTF-8)
  target        with --target: VERSION
  file_version  with --image or --target: the version compared with
  decision      "update", "downgrade" or "same version"
  advice        the board tool's advice line

Exit status:
  0   version read (and it is the --expect VERSION)
  1   no version: no /dev/mei0 (no driver, or no ME), permission denied,
      the MKHI client is not found or the connect failed, no reply within
      45 seconds, a reply the board code refuses (FwuStatus 326: the ME has
      no version to give, result 0x81; FwuStatus 3: an unknown result code
      or not exactly one version record), or a version with Major 0 (with
      any option); or an image FILE without a version
  2   usage errors, an image FILE that cannot be read, output that cannot
      be written
  3   version read, but not the --expect VERSION
  4   with --record: the record could not be written to FILE; the lines
      of the reading are printed all the same, its own status is lost
  64  with --image or --target: update or downgrade
  69  with --image or --target: the board already runs that version
Every failure names its cause on standard error as "navo-board: CAUSE".
)";

struct Options {
  bool json = false;
  std::optional<FwVersion> expect;
  std::optional<FwVersion> target;
  const char *image = nullptr;
  const char *record = nullptr;
  std::optional<history::Event> event;
};

int ParseOptions(CommandWords *words, Options *o) {
  for (;;) {
    switch (words->Next()) {
      case CommandWords::Kind::End:
        if (o->image != nullptr && o->target) return words->UsageError("--image and --target exclude each other");
        if (o->event && o->record == nullptr) return words->UsageError("--event without --record");
        return status::kOk;
      // The tool takes no operands, also none after "--".
      case CommandWords::Kind::Operand:
        return words->UsageError("unexpected argument " + NameForMessage(words->word()));
      case CommandWords::Kind::Option: {
        const std::string_view option = words->option();
        if (words->IsFlag("--json")) {
          o->json = true;
        } else if (option == "--image" || option == "--record") {
          const char *value = words->Value("FILE");
          if (value == nullptr) return status::kUsage;
          const char *&slot = option == "--image" ? o->image : o->record;
          if (slot != nullptr) return words->UsageError("given twice: " + std::string(option));
          slot = value;
        } else if (option == "--event") {
          const char *value = words->Value("EVENT");
          if (value == nullptr) return status::kUsage;
          if (o->event) return words->UsageError("given twice: --event");
          const std::string_view event = value;
          // "flash" is the update script's event; a station only reads.
          if (event != "before" && event != "after")
            return words->UsageError("--event " + NameForMessage(event) + ": before or after");
          o->event = event == "before" ? history::Event::Before : history::Event::After;
        } else if (option == "--expect" || option == "--target") {
          const char *value = words->Value("VERSION");
          if (value == nullptr) return status::kUsage;
          std::optional<FwVersion> &slot = option == "--expect" ? o->expect : o->target;
          if (slot) return words->UsageError("given twice: " + std::string(option));
          if (!ParseVersionOption(kTool, option, value, &slot)) return status::kUsage;
        } else {
          return words->UnknownOption();
        }
      }
    }
  }
}

// The board's FTPR version, one record as -RB01 takes it.
std::optional<FwVersion> ReadBoardVersion(BoardFailure *failure) {
  MeiConnection mei;
  const MeiResult r = mei.Open(kMeiDevice, ClientGuidTable[client_kind::kMkhiIndex]);
  if (!r.ok()) {
    failure->cause = MeiCause(r, kBoardReplyWaitMs);
    return std::nullopt;
  }
  return AskBoardVersion(&mei, kBoardReplyWaitMs, failure);
}

std::string JsonString(std::string_view text) {
  std::string out;
  static_cast<void>(AppendJsonString(out, text));
  return out;
}

std::string JsonVersion(const FwVersion &v) { return "\"" + VersionText(v) + "\""; }

void WriteLine(const std::string &line) { static_cast<void>(std::fwrite(line.data(), 1, line.size(), stdout)); }

void Complain(const std::string &cause) {
  static_cast<void>(std::fflush(stdout));
  static_cast<void>(std::fprintf(stderr, "%s: %s\n", kTool, cause.c_str()));
}

// The compared version from --image: nullopt with the exit status set when
// the image cannot be read or has no version. What was read goes to the record.
std::optional<FwVersion> ReadImage(const Options &o, int *exit_code, StationReading *reading) {
  ImageFacts facts{};
  StreamFailure stream{};
  std::string cause;
  const std::string shown = NameForMessage(o.image);
  const bool read = ReadImageFacts(o.image, &facts, &stream);
  if (read) reading->facts = facts;
  if (!read) {
    cause = shown + ": " + StreamFailureText(stream);
    *exit_code = status::kUsage;
  } else if (!HasVersion(facts)) {
    cause = shown + ": no ME FW version in the image";
    *exit_code = status::kNoVersion;
  } else {
    if (facts.size > kMaxSearchedImageBytes)
      Complain(shown + ": 4 GiB or larger; only its first 4 GiB are searched, as on the board");
    return facts.version;
  }
  Complain(cause);
  if (o.json) {
    std::string line = "{\"file\": ";
    if (!AppendJsonString(line, o.image)) line += ", \"file_hex\": \"" + HexBytes(o.image) + "\"";
    WriteLine(line + ", \"version\": null, \"error\": " + JsonString(cause) + ", \"fwu_status\": null}\n");
  }
  return std::nullopt;
}

// The run's exit status; *reading gets what it learnt on the way.
int Run(const Options &o, StationReading *reading) {
  reading->image = o.image;
  std::optional<FwVersion> compared = o.target;
  if (o.image != nullptr) {
    int code = status::kOk;
    compared = ReadImage(o, &code, reading);
    if (!compared) return FinishStandardOutput(kTool) ? code : status::kUsage;
  }
  reading->compared = compared;

  BoardFailure failure;
  const std::optional<FwVersion> board = ReadBoardVersion(&failure);
  reading->board = board;
  if (!board) {
    Complain(failure.cause);
    if (o.json) WriteLine(BoardFailureJson(failure));
    return FinishStandardOutput(kTool) ? status::kNoVersion : status::kUsage;
  }

  const bool expected = !o.expect || CompareFwVersion(*board, *o.expect) == 0;
  std::optional<UpdateDecision> decision;
  if (compared) decision = DecideUpdate(*board, *compared);
  reading->decision = decision;

  if (o.json) {
    std::string line = "{\"version\": " + JsonVersion(*board);
    if (o.expect) line += std::string(", \"expect\": ") + (expected ? "true" : "false");
    if (o.image != nullptr) {
      line += ", \"file\": ";
      if (!AppendJsonString(line, o.image)) line += ", \"file_hex\": \"" + HexBytes(o.image) + "\"";
    } else if (o.target) {
      line += ", \"target\": " + JsonVersion(*o.target);
    }
    if (decision) {
      line += ", \"file_version\": " + JsonVersion(*compared) + ", \"decision\": \"" + DecisionName(*decision) +
              "\", \"advice\": " + JsonString(AdviceText(*decision));
    }
    WriteLine(line + "}\n");
  } else {
    // -CHKMEVER's lines after its progress lines, its question left out.
    WriteLine("ME FW version on the board: " + VersionText(*board) + "\n");
    if (decision) {
      WriteLine("ME FW version in the File : " + VersionText(*compared) + "\n\n");
      WriteLine(AdviceText(*decision) + "\n");
    }
  }
  if (!expected)
    Complain("the board runs " + VersionText(*board) + ", not the expected " + VersionText(*o.expect));

  if (!FinishStandardOutput(kTool)) return status::kUsage;
  if (!expected) return status::kNotExpected;
  if (decision)
    return *decision == UpdateDecision::SameVersion ? exit_status::kNoUpdate : exit_status::kUpdate;
  return status::kOk;
}

// Appends the run's record to `path`, after everything else it wrote: the
// status in it is the one the run ends with. False, with its cause on
// standard error, when the record is not in the file.
bool WriteRecord(const char *path, const StationReading &reading) {
  const std::time_t now = std::time(nullptr);
  const StationRecord made(ReadDmiIdentity(kDmiDirectory), now == std::time_t(-1) ? "" : UtcTimeText(now),
                           reading);
  const std::string shown = NameForMessage(path);
  char line[history::kMaxRecordBytes];
  if (history::FormatRecord(made.record(), line) == 0) {
    Complain(shown + ": no record written: its fields would make a line of more than " +
             std::to_string(history::kMaxRecordBytes) + " bytes");
    return false;
  }
  // The platform's status keeps no errno; the failed call's is still there.
  errno = 0;
  const PlatStatus status = AppendRecord(Ucs2FromBytes(path).c_str(), made.record());
  const int error = errno;
  if (!PLAT_IS_ERROR(status)) return true;
  char fallback[48];
  static_cast<void>(std::snprintf(fallback, sizeof fallback, "status 0x%llX",
                                  static_cast<unsigned long long>(status)));
  Complain(shown + ": cannot write the record: " + (error != 0 ? std::strerror(error) : fallback));
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  EndQuietlyOnClosedPipes();
  Options options;
  CommandWords words(kTool, argc, argv);
  if (int done = 0; AnsweredBeforeRun(kTool, kHelp, ParseOptions(&words, &options), words, &done))
    return done;
  StationReading reading;
  reading.event = options.event.value_or(history::Event::Before);
  reading.status = Run(options, &reading);
  if (options.record == nullptr) return reading.status;
  return WriteRecord(options.record, reading) ? reading.status : status::kNoRecord;
}
