#include "platform/posix/command_words.h"

#include <cstdio>

#include "platform/posix/byte_names.h"
#include "platform/posix/tool_io.h"
#include "platform/posix/tools_version.h"

CommandWords::Kind CommandWords::Next() {
  while (++at_ < argc_) {
    const std::string_view w = argv_[at_];
    inline_value_ = nullptr;
    option_ = w;
    if (options_end_ || w.empty() || w[0] != '-' || w == "-") return Kind::Operand;
    if (w == "--") {
      options_end_ = true;
    } else if (w == "--help" || w == "-h") {
      asked_ = Asked::Help;
    } else if (w == "--version") {
      if (asked_ == Asked::Run) asked_ = Asked::Version;
    } else {
      const std::size_t equals = w.starts_with("--") ? w.find('=') : std::string_view::npos;
      if (equals != std::string_view::npos) {
        option_ = w.substr(0, equals);
        inline_value_ = argv_[at_] + equals + 1;
      }
      return Kind::Option;
    }
  }
  return Kind::End;
}

const char *CommandWords::Value(const char *what) {
  if (inline_value_ != nullptr) return inline_value_;
  if (at_ + 1 < argc_) return argv_[++at_];
  static_cast<void>(UsageError("missing " + std::string(what) + " after " + std::string(option_)));
  return nullptr;
}

int CommandWords::UsageError(const std::string &message) const {
  static_cast<void>(std::fprintf(stderr, "%s: %s\n", tool_, message.c_str()));
  static_cast<void>(std::fprintf(stderr, "Try '%s --help'.\n", tool_));
  return kUsageStatus;
}

int CommandWords::UnknownOption() const { return UsageError("unknown option " + NameForMessage(word())); }

bool AnsweredBeforeRun(const char *tool, const char *help, int parsed, const CommandWords &words,
                       int *status, int unwritten) {
  const Asked asked = words.asked();
  if (parsed != 0) {
    *status = parsed;
    return true;
  }
  if (asked == Asked::Run) return false;
  *status = AnswerHelpOrVersion(tool, kToolsVersion, asked == Asked::Help ? help : nullptr) ? 0 : unwritten;
  return true;
}
