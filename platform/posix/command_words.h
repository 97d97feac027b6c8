// The command line of the Linux tools, read the same way by each: operands,
// "--" ending the options, --help/-h and --version wherever they stand,
// "--option=VALUE" as "--option VALUE", and one usage error format.
#ifndef PLATFORM_POSIX_COMMAND_WORDS_H_
#define PLATFORM_POSIX_COMMAND_WORDS_H_

#include <cstdint>
#include <string>
#include <string_view>

// The exit status every tool gives a usage error.
inline constexpr int kUsageStatus = 2;

// What the command line asks for besides a run: --help wins over --version.
enum class Asked : uint8_t { Run, Help, Version };

class CommandWords {
 public:
  enum class Kind : uint8_t { End, Operand, Option };

  CommandWords(const char *tool, int argc, char **argv) : tool_(tool), argc_(argc), argv_(argv) {}

  // The next word that is an operand (also "-" and every word after "--") or
  // an option other than --help, -h and --version, which it takes itself.
  Kind Next();
  // The word Next() returned.
  const char *word() const { return argv_[at_]; }
  // The option without its "=VALUE".
  std::string_view option() const { return option_; }
  // Whether the option is the flag `name`, given without a value.
  bool IsFlag(std::string_view name) const { return word() == name; }
  // The option's value, after "=" or the next word; nullptr, with the usage
  // error "missing WHAT after OPTION" printed, when there is none.
  const char *Value(const char *what);
  Asked asked() const { return asked_; }

  // Prints "TOOL: MESSAGE" and the hint to --help on standard error.
  int UsageError(const std::string &message) const;
  // The usage error for the option just read.
  int UnknownOption() const;

 private:
  const char *tool_;
  int argc_;
  char **argv_;
  int at_ = 0;
  bool options_end_ = false;
  const char *inline_value_ = nullptr;
  std::string_view option_;
  Asked asked_ = Asked::Run;
};

// After the command line is read: a usage error (`parsed`, when not 0) or the
// answer to --help or --version ends the run with *status; that answer's
// output that cannot be written gives `unwritten`. False when the run goes on.
bool AnsweredBeforeRun(const char *tool, const char *help, int parsed, const CommandWords &words,
                       int *status, int unwritten = kUsageStatus);

#endif  // PLATFORM_POSIX_COMMAND_WORDS_H_
