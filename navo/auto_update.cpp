// The -ECOVRAUTO sequence. Its progress between starts lives only in the Step1
// marker, the root startup.nsh and the EC's pin; every run decides what to do
// from those alone.
#include "navo/auto_update.h"

#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>

#include "navo/cold_reset.h"
#include "navo/console.h"
#include "navo/ec_pin.h"
#include "navo/types.h"
#include "platform/guards.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

constexpr const char16_t *kStep1Marker = u"UpdatewithEC_Step1.set";
constexpr const char16_t *kStep2Marker = u"UpdatewithEC_Step2.set";
constexpr const char16_t *kScriptName = u"startup.nsh";
constexpr const char16_t *kMakeStep1Marker =
    u"echo \"Update with EC support step 1.\" >> UpdatewithEC_Step1.set";

// Buffer sizes of the texts built from the current directory. The copy line is
// the longest piece that holds the directory and its mapping: with them within
// kMaxDirAndPrefix characters, the script and the removal line always fit too.
constexpr std::size_t kMaxMappingPrefix = 15;
constexpr std::size_t kMaxCommandLine = 103;
constexpr std::size_t kMaxScript = 255;
constexpr std::u16string_view kCopyStart = u"cp -q ";
constexpr std::u16string_view kCopyMiddle = u"\\startup.nsh ";
constexpr std::u16string_view kRootScriptTail = u"\\startup.nsh";
constexpr std::u16string_view kRemoveStart = u"rm ";
constexpr std::size_t kMaxDirAndPrefix =
    kMaxCommandLine - (kCopyStart.size() + kCopyMiddle.size() + kRootScriptTail.size());
static_assert(kMaxDirAndPrefix == 72);

constexpr std::u16string_view kScriptLines[] = {
    u"@echo -off",  // then the mapping, then "cd " and the directory
    u"If exist UpdatewithEC_Step1.set then",
    u"go me1",
    u"endif",
    u"NAVO.efi -ECOVRAUTO",
};
constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr std::u16string_view kCd = u"cd ";
static_assert(93 == [] {
  std::size_t n = kCd.size();
  for (auto line : kScriptLines) n += line.size() + kLineEnd.size();
  return n + 2 * kLineEnd.size();
}(), "the script's fixed part");
static_assert(93 + kMaxDirAndPrefix <= kMaxScript);

constexpr const char *kNoticeBox[] = {
    "+-------------------------------------------------------------------+",
    "|  Notice:                                                          |",
    "|  1.The system will restart several times and update automatically.|",
    "|  2.Please do not remove any boot devices.                         |",
    "|  3.Please make sure that EFI device is the first boot.            |",
    "+-------------------------------------------------------------------+",
};

constexpr const char *kClosingBox[] = {
    "+-------------------------------------------------------------------+",
    "|  The update program will restart for the last time.               |",
    "|                                                                   |",
    "|  If update fails, please check error message.                     |",
    "|  After rebooting, please re-execute this batch.                   |",
    "|                                                                   |",
    "|  If update is successful, after rebooting,                        |",
    "|  please run ME Close/TXE Close to ensure system security.         |",
    "+-------------------------------------------------------------------+",
};

// A NUL-terminated 16-bit text in a fixed buffer. Appending what does not fit
// appends nothing and marks the text as overflowed; nothing is ever written past
// the buffer.
template <std::size_t Capacity>
class BoundedText {
 public:
  BoundedText() { text_[0] = u'\0'; }
  BoundedText &operator+=(std::u16string_view piece) {
    if (overflowed_ || piece.size() > Capacity - size_) {
      overflowed_ = true;
      return *this;
    }
    for (char16_t c : piece) text_[size_++] = c;
    text_[size_] = u'\0';
    return *this;
  }
  const char16_t *CStr() const { return text_; }
  std::u16string_view View() const { return {text_, size_}; }
  bool Overflowed() const { return overflowed_; }

 private:
  char16_t text_[Capacity + 1];
  std::size_t size_ = 0;
  bool overflowed_ = false;
};

// The working directory as the sequence needs it, copied out of the shell (its
// text is only valid until the next shell call).
struct WorkDir {
  BoundedText<kMaxDirAndPrefix> dir;
  std::size_t prefix_size = 0;  // of the mapping prefix: up to and including the first ':'

  std::u16string_view Prefix() const { return dir.View().substr(0, prefix_size); }
  // The working directory is the root of its mapping: the local script and the
  // root script are then one and the same file.
  bool IsRoot() const {
    for (char16_t c : dir.View().substr(prefix_size))
      if (c != u'\\') return false;
    return true;
  }
};

enum class WorkDirProblem : uint8_t { None, Missing, TooLong, MappingTooLong, Unprintable, ShellSyntax };

struct WorkDirVerdict {
  WorkDirProblem problem = WorkDirProblem::None;
  char16_t character = 0;  // the one the shell would take for its own (ShellSyntax)
};

// The script holds one byte per character, and the shell reads a script without
// a byte-order mark byte by byte as Latin-1: every character up to U+00FF comes
// back as it was. One above would come back as another directory, and a control
// character (its low byte a CR or LF, say) would start a line of its own that
// the shell runs as a command at the next start.
constexpr bool ScriptCanCarry(char16_t c) { return c >= 0x20 && c != 0x7F && c <= 0xFF; }

// Characters that the shell reads as its own syntax wherever they stand in the
// copy line and in the script's "cd" line: a blank splits the path into two
// words, '#' starts a comment, '%' starts a variable, '^' escapes the next
// character, '"' opens a quoted word, '<', '>' and '|' redirect or pipe, and
// '[' opens a set of characters that the file commands match names against
// (cp takes FS0:\A[1]\... for FS0:\A1\...). The copy could then "succeed" on
// another file and the script change to another directory; no quoting carries
// all of them.
constexpr std::u16string_view kShellSyntax = u" #%^\"<>|[";
constexpr const char16_t *kWayOut = u" Use a folder like FS0:\\UPDATE.";

WorkDirVerdict ReadWorkDir(WorkDir *work) {
  const PlatChar16 *cur = PlatGetCurDir();
  if (cur == nullptr || cur[0] == u'\0') return {WorkDirProblem::Missing};
  // Never look further into the shell's text than what could be used.
  std::size_t size = 0;
  while (size <= kMaxDirAndPrefix && cur[size] != u'\0') ++size;
  const std::u16string_view text(cur, size);
  const std::size_t colon = text.find(u':');
  const std::size_t prefix = colon == std::u16string_view::npos ? size : colon + 1;
  if (prefix > kMaxMappingPrefix) return {WorkDirProblem::MappingTooLong};
  if (size > kMaxDirAndPrefix || size + prefix > kMaxDirAndPrefix) return {WorkDirProblem::TooLong};
  for (char16_t c : text) {
    if (!ScriptCanCarry(c)) return {WorkDirProblem::Unprintable};
    if (kShellSyntax.find(c) != std::u16string_view::npos) return {WorkDirProblem::ShellSyntax, c};
  }
  work->dir += text;
  work->prefix_size = prefix;
  return {work->dir.Overflowed() ? WorkDirProblem::TooLong : WorkDirProblem::None};
}

// Completes the caller's open line (or stands alone) like the other failures.
// Each message fits one line of an 80-column screen and ends with the way out:
// a folder such as FS0:\UPDATE carries every limit below.
void PrintWorkDirProblem(WorkDirVerdict verdict) {
  Print(u"Fail\n\n");
  switch (verdict.problem) {
    case WorkDirProblem::Missing:
      Print(u"Error F12: No current directory. Type fs0: and cd to the update folder.\n");
      break;
    case WorkDirProblem::Unprintable:
      Print(u"Error F12: The path is not printable Latin-1.%s\n", kWayOut);
      break;
    case WorkDirProblem::ShellSyntax: {
      const char16_t quoted[] = {u'\'', verdict.character, u'\'', u'\0'};
      Print(u"Error F12: The path holds %s.%s\n", verdict.character == u' ' ? u"a blank" : quoted,
            kWayOut);
      break;
    }
    case WorkDirProblem::MappingTooLong:
      Print(u"Error F12: Mapping name over %d characters.%s\n", static_cast<int>(kMaxMappingPrefix),
            kWayOut);
      break;
    case WorkDirProblem::None:
    case WorkDirProblem::TooLong:
      Print(u"Error F12: Path and mapping over %d characters.%s\n", static_cast<int>(kMaxDirAndPrefix),
            kWayOut);
      break;
  }
}

template <std::size_t N>
void PrintBox(const char *const (&rows)[N]) {
  for (const char *row : rows) Print(u"%a\n", row);
}

bool CommandFailed(const char16_t *line) {
  PlatStatus command = PLAT_SUCCESS;
  const PlatStatus run = PlatExecute(line, &command);
  return PLAT_IS_ERROR(run) || PLAT_IS_ERROR(command);
}

// The script as 8-bit text; returns its length (0 if it did not fit).
std::size_t BuildScript(const WorkDir &work, std::span<uint8_t, kMaxScript> out) {
  BoundedText<kMaxScript> text;
  text += kScriptLines[0];
  text += kLineEnd;
  text += work.Prefix();
  text += kLineEnd;
  text += kCd;
  text += work.dir.View();
  text += kLineEnd;
  for (std::size_t i = 1; i < std::size(kScriptLines); ++i) {
    text += kScriptLines[i];
    text += kLineEnd;
  }
  if (text.Overflowed()) return 0;
  std::size_t n = 0;
  for (char16_t c : text.View()) out[n++] = static_cast<uint8_t>(c & 0xFF);
  return n;
}

// Writes the local startup.nsh so that it holds exactly `bytes`, also over an
// older, longer file of that name.
bool WriteLocalScript(std::span<const uint8_t> bytes) {
  plat::FileGuard file;
  if (PLAT_IS_ERROR(PlatFileOpenByName(
          kScriptName, PLAT_FILE_MODE_READ | PLAT_FILE_MODE_WRITE | PLAT_FILE_MODE_CREATE,
          file.Out()))) {
    Print(u"Fail.\n\nError F04: Open File failed!\n");
    return false;
  }
  uint64_t size = bytes.size();
  bool written = !PLAT_IS_ERROR(PlatFileSetSize(file.Get(), 0)) &&
                 !PLAT_IS_ERROR(PlatFileWrite(file.Get(), &size, bytes.data())) &&
                 size == bytes.size();
  // Closing flushes the file: a failure there loses the bytes all the same.
  written = !PLAT_IS_ERROR(file.Close()) && written;
  if (!written) {
    Print(u"Fail.\n\nError F04: Write File failed!\n");
    return false;
  }
  return true;
}

}  // namespace

uint8_t AutoUpdateCommand() {
  if (PlatIsFile(kStep1Marker)) return AutoUpdateFinalRun();
  // Someone else holds the sequence back; stay out of it.
  if (PlatIsFile(kStep2Marker)) return exit_status::kDone;
  return AutoUpdateFirstRun();
}

uint8_t AutoUpdateFirstRun() {
  PrintBox(kNoticeBox);
  const uint8_t go_on = PromptUser(u"Continue", PromptKind::PromptYesNo);
  Print(u"\n");
  if (go_on == 0) {
    Print(u"\nUser canceled update.\n\n");
    return exit_status::kDeclinedAutoUpdate;
  }

  Print(u"Preparing Update files...");
  WorkDir work;
  if (const WorkDirVerdict verdict = ReadWorkDir(&work); verdict.problem != WorkDirProblem::None) {
    PrintWorkDirProblem(verdict);
    return exit_status::kFailed;
  }
  BoundedText<kMaxCommandLine> copy_line;
  copy_line += kCopyStart;
  copy_line += work.dir.View();
  copy_line += kCopyMiddle;
  copy_line += work.Prefix();
  copy_line += kRootScriptTail;
  uint8_t script[kMaxScript];
  const std::size_t script_size = BuildScript(work, script);
  if (copy_line.Overflowed() || script_size == 0) {
    PrintWorkDirProblem({WorkDirProblem::TooLong});
    return exit_status::kFailed;
  }

  if (!WriteLocalScript(std::span<const uint8_t>(script, script_size))) return exit_status::kFailed;
  PlatStall(500);
  Print(u"OK\n");

  // In the root of the mapping the local script already is the root script:
  // copying it onto itself would fail, and deleting the "local copy" would
  // remove the very file the next start needs.
  if (!work.IsRoot()) {
    if (CommandFailed(copy_line.CStr())) {
      Print(u"Fail\n\n");
      Print(u"Error F10: An error occurs when copying \"startup.nsh\" to root directory\n");
      return exit_status::kFailed;
    }
    static_cast<void>(PlatFileDeleteByName(kScriptName));
  }

  Print(u"Adjust EC FW override Status...");
  if (EcOverridePinOn() != PLAT_SUCCESS) {
    // Line ended, or the shell's prompt would be drawn over it.
    Print(u"Fail.\n\nError F09: Not Find EC API table.\n");
    return exit_status::kFailed;
  }
  Print(u"OK\n");

  static_cast<void>(CommandFailed(kMakeStep1Marker));
  Print(u"\nRestarting, please wait...");
  ColdReset();
  return exit_status::kDone;
}

uint8_t AutoUpdateFinalRun() {
  WorkDir work;
  if (const WorkDirVerdict verdict = ReadWorkDir(&work); verdict.problem != WorkDirProblem::None) {
    // No script of ours can sit behind such a directory (the first run refuses
    // it); leave marker and pin as they are.
    PrintWorkDirProblem(verdict);
    return exit_status::kFailed;
  }
  BoundedText<kMaxCommandLine> remove_line;
  remove_line += kRemoveStart;
  remove_line += work.Prefix();
  remove_line += kRootScriptTail;

  const bool remove_failed = remove_line.Overflowed() || CommandFailed(remove_line.CStr());
  if (remove_failed) {
    Print(u"Fail\n\n");
    Print(u"Error F11: An error occurs when removing \"startup.nsh\" in root directory\n");
  }
  static_cast<void>(PlatFileDeleteByName(kStep1Marker));
  if (remove_failed) return exit_status::kFailed;

  PrintBox(kClosingBox);
  static_cast<void>(PromptUser(u"", PromptKind::PromptAnyKey));
  Print(u"Restore FW override pin Status...");
  if (EcOverridePinOff() != PLAT_SUCCESS) {
    Print(u"Fail.\n\nError F09: Not Find EC API table.\n");
    return exit_status::kFailed;
  }
  Print(u"OK\n\n");
  ColdReset();
  return exit_status::kDone;
}
