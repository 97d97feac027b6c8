// navo-history: the service history that the stick's recorder and the test
// station's navo-board --record append to, read back on Linux with the same
// record unit they write it with: one row per record, and every line that is
// not a whole record named.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "navo/history/record.h"
#include "navo/host/navo-history/history_output.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/file_stream.h"
#include "platform/posix/tool_io.h"
#include "platform/posix/tools_version.h"

namespace {

namespace status {
constexpr int kOk = 0;
constexpr int kNotWhole = 1;  // a line that is not a whole record
constexpr int kUsage = 2;     // usage errors, unreadable files and folders, unwritable output
}  // namespace status

constexpr char kTool[] = "navo-history";

constexpr char kHelp[] = R"(Usage: navo-history [--json | --csv] FILE|FOLDER...
       navo-history --help | --version

Reads the service history files that the service stick's recorder and
navo-board --record on a Linux test station append to, and prints one row
per record: its time, event (before, flash or after an update), source
(stick or station), the board's serial number and product, the firmware
kind, the version the board ran, the image and its version, the update
decision and the exit status. A FOLDER stands for its regular files, read in
the order of their names (its subfolders are not read); a FILE of - is
standard input.

  --json     one JSON object per record, each on its own line
  --csv      comma-separated values (RFC 4180) with a header row
  --help     this text
  --version  the tools' version: a.b.c for a release build,
             a.b.c+gCOMMIT between releases
  --         ends the options, for a FILE that begins with -

In the table an empty value (not known) shows as -, a value wider than its
column is cut and ends in ~, and a byte that is not printable, or %, shows
as %XX; --json and --csv give every value whole.

Each line that is not a whole record is named on standard error with its
file, its line number and what is wrong, and reading goes on, e.g.
  navo-history: HISTORY.TXT:7: cut record (the file ends inside it: a power cut while it was written?)
A power cut while a record is written cuts it: it is then the file's last
line, or a line of its own before the records appended after it.

JSON keys (strings, "" for an empty value):
  file      the file's name as given (FOLDER/NAME for a folder's file)
  line      its line number, from 1 (a number)
  event, time, source, vendor, product, serial, uuid, bios, kind, board,
  image, image_version, size, sum32, sum16, decision, status
            the record's fields; the image fields, from image to
            decision, are null in a flash record, which has none
  KEY_hex   after any of them whose bytes are not UTF-8: the bytes in hex
The CSV columns are the same keys, with the bytes as they are.

Exit status:
  0   every line read is a whole record
  1   some line is not (each is named on standard error)
  2   usage errors, a file or folder that cannot be read, or output that
      cannot be written
A closed pipe ends navo-history quietly by SIGPIPE, as it ends cat.
)";

struct Options {
  bool json = false;
  bool csv = false;
  std::vector<const char *> inputs;
};

int UsageError(const std::string &message) {
  static_cast<void>(std::fprintf(stderr, "%s: %s\n", kTool, message.c_str()));
  static_cast<void>(std::fprintf(stderr, "Try '%s --help'.\n", kTool));
  return status::kUsage;
}

enum class Asked : uint8_t { Run, Help, Version };

// 0 when the command line is good, else the exit status of a usage error.
int ParseOptions(int argc, char **argv, Options *o, Asked *asked) {
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (options_end || word.empty() || word[0] != '-' || word == "-") {
      o->inputs.push_back(argv[i]);
    } else if (word == "--") {
      options_end = true;
    } else if (word == "--help" || word == "-h") {
      *asked = Asked::Help;
    } else if (word == "--version") {
      if (*asked == Asked::Run) *asked = Asked::Version;
    } else if (word == "--json") {
      o->json = true;
    } else if (word == "--csv") {
      o->csv = true;
    } else {
      return UsageError("unknown option " + NameForMessage(word));
    }
  }
  if (*asked != Asked::Run) return status::kOk;
  if (o->json && o->csv) return UsageError("--json and --csv exclude each other");
  if (o->inputs.empty()) return UsageError("no FILE or FOLDER given");
  return status::kOk;
}

void Complain(const std::string &text) {
  static_cast<void>(std::fflush(stdout));
  static_cast<void>(std::fprintf(stderr, "%s: %s\n", kTool, text.c_str()));
}

void Write(const std::string &text) { static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout)); }

// One file's lines, each handed on as soon as its line end has come: memory
// holds the longest line, not the file.
struct FileReader {
  FileReader(const std::string &file, OutputForm output) : name(file), form(output) {}

  const std::string &name;
  OutputForm form;
  std::string pending;  // bytes after the last line end so far
  std::size_t number = 0;
  bool all_whole = true;
  std::vector<char> storage;

  void Lines(std::string_view bytes) {
    history::LineCursor cursor{bytes, number};
    history::HistoryLine line{};
    while (history::NextLine(&cursor, &line)) {
      storage.resize(line.text.size());
      const history::ParsedRecord parsed = history::ParseRecordLine(line.text, line.ended, storage);
      if (parsed.verdict == history::LineVerdict::Whole) {
        Write(OutputRow(form, name, line.number, parsed.record));
      } else {
        all_whole = false;
        Complain(NameForMessage(name) + ":" + std::to_string(line.number) + ": " + LineProblem(parsed));
      }
    }
    number = cursor.number;
  }
};

void TakeBytes(void *context, const uint8_t *data, std::size_t size) {
  auto *reader = static_cast<FileReader *>(context);
  reader->pending.append(reinterpret_cast<const char *>(data), size);
  const std::size_t last_feed = reader->pending.rfind('\n');
  if (last_feed == std::string::npos) return;
  reader->Lines(std::string_view(reader->pending).substr(0, last_feed + 1));
  reader->pending.erase(0, last_feed + 1);
}

int ReadHistoryFile(const std::string &name, OutputForm form) {
  FileReader reader(name, form);
  StreamFailure failure{};
  if (!StreamFile(name.c_str(), TakeBytes, &reader, &failure)) {
    Complain(NameForMessage(name) + ": " + StreamFailureText(failure));
    return status::kUsage;
  }
  reader.Lines(reader.pending);  // a last line without its line end
  return reader.all_whole ? status::kOk : status::kNotWhole;
}

// The folder's regular files (through symbolic links too), by name.
bool FolderFiles(const std::string &folder, std::vector<std::string> *files, int *error) {
  DIR *dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    *error = errno;
    return false;
  }
  const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
  for (;;) {
    errno = 0;
    const dirent *entry = ::readdir(dir);
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const std::string path = prefix + std::string(name);
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files->push_back(path);
  }
  *error = errno;
  ::closedir(dir);
  std::sort(files->begin(), files->end());
  return *error == 0;
}

int ReadInput(const char *input, OutputForm form) {
  struct stat st {};
  const std::string name = input;
  if (name == "-" || ::stat(input, &st) != 0 || !S_ISDIR(st.st_mode)) return ReadHistoryFile(name, form);
  std::vector<std::string> files;
  int error = 0;
  if (!FolderFiles(name, &files, &error)) {
    Complain(NameForMessage(name) + ": cannot read the folder: " + std::strerror(error));
    return status::kUsage;
  }
  int worst = status::kOk;
  for (const std::string &file : files) {
    worst = std::max(worst, ReadHistoryFile(file, form));
    if (!StandardOutputIntact()) break;
  }
  return worst;
}

}  // namespace

int main(int argc, char **argv) {
  EndQuietlyOnClosedPipes();
  Options options;
  Asked asked = Asked::Run;
  if (const int bad = ParseOptions(argc, argv, &options, &asked); bad != status::kOk) return bad;
  if (asked != Asked::Run) {
    const char *help = asked == Asked::Help ? kHelp : nullptr;
    return AnswerHelpOrVersion(kTool, kToolsVersion, help) ? status::kOk : status::kUsage;
  }

  const OutputForm form = options.json ? OutputForm::Json : options.csv ? OutputForm::Csv : OutputForm::Table;
  Write(OutputHeader(form));
  int worst = status::kOk;
  for (const char *input : options.inputs) {
    worst = std::max(worst, ReadInput(input, form));
    // A full disk takes every row after it as well: read no more.
    if (!StandardOutputIntact()) break;
  }
  return FinishStandardOutput(kTool) ? worst : status::kUsage;
}
