// CHKSUM for Linux: the same report as CHKSUM.efi, for checking images on a
// build machine before they go onto a board.
//
// The file is read in fixed-size pieces, so memory stays small for any size,
// and its name is opened and printed as the bytes it is. The report and the
// "?" version lines are CHKSUM.efi's own code; the command line around them
// follows Linux habits, since scripts on a build machine expect them: --help
// and --version, "-" for standard input, messages on standard error with the
// reason, status 2 for a wrong command line.
//
// A failing file operation's UEFI status is folded into the exit code by its
// low byte (EFI_NOT_FOUND -> 14), as the shell would show it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "chksum/chksum.h"
#include "chksum/report.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/command_words.h"
#include "platform/posix/file_stream.h"
#include "platform/posix/tool_io.h"
#include "platform/posix/tools_version.h"
#include "platform/print.h"

namespace {

constexpr char kTool[] = "chksum";

namespace status {
constexpr int kOk = 0;
constexpr int kUnwritten = 1;  // the report could not be written
}  // namespace status

constexpr char kHelp[] = R"(Usage: chksum FILE
       chksum --help | --version

Prints the size of FILE, the 32-bit sum of its bytes and the low 16 bits of
that sum (the BIOS history records' figure), as CHKSUM.efi prints them, byte
for byte. A FILE of - is standard input. A FILE that begins with ? prints
CHKSUM.efi's version and usage lines instead, as CHKSUM.efi does; name such
a file ./?NAME.

  --help     this text
  --version  the tools' version: a.b.c for a release build, a.b.c+gCOMMIT
             between releases
  --         ends the options, for a FILE that begins with -

Unlike CHKSUM.efi, chksum writes its usage and failure messages to standard
error, names the reason a file could not be opened or read, and exits 2 for
a wrong number of arguments (CHKSUM.efi prints its usage and exits 0).

Exit status:
  0   the report was printed
  1   the report could not be written (a full disk)
  2   a wrong command line
  14  FILE does not exist, 15 it is a directory or may not be read, 7 other
      failures to read it (the low byte of CHKSUM.efi's UEFI status)
A closed pipe ends chksum quietly by SIGPIPE, as it ends cat.
)";

struct Sum {
  uint64_t bytes = 0;
  uint32_t sum = 0;
};

void AddPiece(void *context, const uint8_t *data, std::size_t size) {
  auto *s = static_cast<Sum *>(context);
  s->sum = chksum::ContinueByteSum(s->sum, data, size);
  s->bytes += size;
}

uint64_t SumFile(const char *path) {
  Sum sum;
  StreamFailure failure{};
  if (!StreamFile(path, AddPiece, &sum, &failure)) {
    static_cast<void>(std::fprintf(stderr, "%s: %s: %s\n", kTool, NameForMessage(path).c_str(),
                                   StreamFailureText(failure).c_str()));
    return StatusFromErrno(failure.error);
  }
  const std::u16string name = Ucs2FromBytes(path);
  chksum::PrintChksumReport(name.c_str(), sum.bytes, sum.sum);
  return PLAT_SUCCESS;
}

// CHKSUM.efi's answer to "?...": its version and usage lines.
void PrintEfiVersion(const char *program, const char *word) {
  std::u16string words[] = {Ucs2FromBytes(program), Ucs2FromBytes(word)};
  PlatChar16 *vector[] = {words[0].data(), words[1].data(), nullptr};
  static_cast<void>(ChksumMain(2, vector));
}

int ExitCode(uint64_t failure) { return (failure & 0xFF) != 0 ? static_cast<int>(failure & 0xFF) : 1; }

}  // namespace

int main(int argc, char **argv) {
  EndQuietlyOnClosedPipes();
  CommandWords words(kTool, argc, argv);
  std::vector<const char *> files;
  int parsed = status::kOk;
  for (CommandWords::Kind kind; parsed == status::kOk && (kind = words.Next()) != CommandWords::Kind::End;) {
    if (kind == CommandWords::Kind::Operand) {
      files.push_back(words.word());
    } else {
      parsed = words.UnknownOption();
    }
  }
  if (int done = 0; AnsweredBeforeRun(kTool, kHelp, parsed, words, &done, status::kUnwritten)) return done;

  uint64_t failure = PLAT_SUCCESS;
  if (files.size() != 1) {
    return words.UsageError(files.empty() ? "no FILE given"
                                    : "one FILE only, " + std::to_string(files.size()) + " given");
  } else if (files[0][0] == '?') {
    PrintEfiVersion(argv[0], files[0]);
  } else {
    failure = SumFile(files[0]);
  }
  // A report that could not be written (a full disk) is no report: the
  // caller must not take the run for a success.
  const bool written = FinishStandardOutput(kTool);
  if (failure != PLAT_SUCCESS) return ExitCode(failure);
  return written ? status::kOk : status::kUnwritten;
}
