#include "navo/command_line.h"

#include "navo/console.h"

namespace {

bool WordIs(const char16_t *word, const char16_t *expected) {
  while (*word != u'\0' && *word == *expected) {
    ++word;
    ++expected;
  }
  return *word == *expected;
}

// What a word after -CHKMEVER or -MBMEVER can be besides a command: a read
// method, set once, or anything else, which is skipped.
enum class MethodWord : uint8_t { Skipped, Set, Fault };

MethodWord TakeMethodWord(const char16_t *word, ParsedCommand *parsed) {
  BoardReadMethod method;
  if (WordIs(word, u"-RB01")) {
    method = BoardReadMethod::FwUpdateLib;
  } else if (WordIs(word, u"-RB02")) {
    method = BoardReadMethod::BiosSetupVariable;
  } else if (WordIs(word, u"-RB03")) {
    method = BoardReadMethod::MeInfoTool;
  } else {
    return MethodWord::Skipped;
  }
  if (parsed->method != BoardReadMethod::Auto) return MethodWord::Fault;
  parsed->method = method;
  return MethodWord::Set;
}

// The scan position over the argument vector. Words handed out by Next() are
// consumed: they are never compared with the command list.
class Words {
 public:
  Words(uint64_t argc, char16_t **argv) : argc_(argc), argv_(argv) {}
  bool AtEnd() const { return index_ >= argc_; }
  bool HasNext() const { return index_ + 1 < argc_; }
  char16_t *Current() const { return argv_[index_]; }
  char16_t *Next() { return argv_[++index_]; }
  void Advance() { ++index_; }

 private:
  uint64_t argc_;
  char16_t **argv_;
  uint64_t index_ = 1;  // argv[0] is the program's own name
};

// -CHKMEVER / -CHKTXEVER: "-N" with a version text or "-F" with a file name.
bool TakeCheckCommand(Words &words, CommandId command, FwKind kind, ParsedCommand *parsed) {
  if (parsed->command != CommandId::None || !words.HasNext()) return false;
  char16_t *option = UpcaseInPlace(words.Next());
  if (WordIs(option, u"-N")) {
    parsed->source = VersionSource::SourceNumber;
  } else if (WordIs(option, u"-F")) {
    parsed->source = VersionSource::SourceFile;
  } else {
    return false;
  }
  if (!words.HasNext()) return false;
  parsed->value = words.Next();
  parsed->command = command;
  parsed->kind = kind;
  return true;
}

// -FILEMEVER / -FILETXEVER: the next word is the file name, whatever it looks like.
bool TakeFileCommand(Words &words, FwKind kind, ParsedCommand *parsed) {
  if (parsed->command != CommandId::None || !words.HasNext()) return false;
  parsed->value = words.Next();
  parsed->command = CommandId::FileVersion;
  parsed->kind = kind;
  return true;
}

bool TakePinCommand(Words &words, ParsedCommand *parsed) {
  if (parsed->command != CommandId::None) return false;
  parsed->command = CommandId::EcPin;
  if (!words.HasNext()) return true;
  char16_t *option = UpcaseInPlace(words.Next());
  if (WordIs(option, u"-ON")) {
    parsed->pin_mode = OverridePinMode::PinOn;
  } else if (WordIs(option, u"-OFF")) {
    parsed->pin_mode = OverridePinMode::PinOff;
  } else {
    return false;
  }
  return true;
}

bool TakeSimpleCommand(CommandId command, FwKind kind, ParsedCommand *parsed) {
  if (parsed->command != CommandId::None) return false;
  parsed->command = command;
  parsed->kind = kind;
  return true;
}

// One word (and what it consumes); false on a fault.
bool TakeWord(Words &words, ParsedCommand *parsed) {
  const char16_t *word = words.Current();
  if (WordIs(word, u"-ECOVRPIN")) return TakePinCommand(words, parsed);
  if (WordIs(word, u"-ECOVRAUTO")) return TakeSimpleCommand(CommandId::EcAuto, FwKind{}, parsed);
  if (WordIs(word, u"-MBMEVER")) return TakeSimpleCommand(CommandId::BoardMe, FwKind::Me, parsed);
  if (WordIs(word, u"-MBTXEVER")) return TakeSimpleCommand(CommandId::BoardTxe, FwKind::Txe, parsed);
  // After the two ME commands that read the board, the remaining words only
  // choose the read method; the rest are skipped.
  if (parsed->command == CommandId::CheckMe || parsed->command == CommandId::BoardMe) {
    return TakeMethodWord(word, parsed) != MethodWord::Fault;
  }
  if (WordIs(word, u"-CHKMEVER")) return TakeCheckCommand(words, CommandId::CheckMe, FwKind::Me, parsed);
  if (WordIs(word, u"-CHKTXEVER")) return TakeCheckCommand(words, CommandId::CheckTxe, FwKind::Txe, parsed);
  if (WordIs(word, u"-FILEMEVER")) return TakeFileCommand(words, FwKind::Me, parsed);
  if (WordIs(word, u"-FILETXEVER")) return TakeFileCommand(words, FwKind::Txe, parsed);
  return false;
}

}  // namespace

ImmediateSwitch ScanCommandLine(uint64_t argc, char16_t **argv, ParsedCommand *parsed) {
  *parsed = ParsedCommand{};
  if (argv == nullptr) return ImmediateSwitch::None;
  for (Words words(argc, argv); !words.AtEnd(); words.Advance()) {
    const char16_t *word = UpcaseInPlace(words.Current());
    if (word == nullptr) {
      parsed->error = true;
      break;
    }
    if (WordIs(word, u"-VER")) return ImmediateSwitch::Version;
    if (WordIs(word, u"-COLDRST")) return ImmediateSwitch::ColdReset;
    if (WordIs(word, u"-H")) return ImmediateSwitch::Help;
    if (!TakeWord(words, parsed)) {
      parsed->error = true;
      break;
    }
  }
  return ImmediateSwitch::None;
}
