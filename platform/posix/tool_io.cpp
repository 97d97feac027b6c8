#include "platform/posix/tool_io.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

std::string StreamFailureText(const StreamFailure &failure) {
  if (failure.error == EISDIR) return "is a directory";
  return std::string(failure.stage == StreamStage::Open ? "cannot open: " : "cannot read: ") +
         std::strerror(failure.error);
}

void ReportClosedPipes() { static_cast<void>(std::signal(SIGPIPE, SIG_IGN)); }

bool FinishStandardOutput(const char *tool) {
  // A write that failed earlier left the error flag and its bytes in the
  // buffer; the flush tries them again and sets errno afresh.
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && std::ferror(stdout) == 0) return true;
  const int error = errno;
  if (error != 0)
    static_cast<void>(std::fprintf(stderr, "%s: write error: %s\n", tool, std::strerror(error)));
  else
    static_cast<void>(std::fprintf(stderr, "%s: write error\n", tool));
  return false;
}

bool AnswerHelpOrVersion(const char *tool, const char *version, const char *help) {
  if (help != nullptr)
    static_cast<void>(std::fputs(help, stdout));
  else
    static_cast<void>(std::printf("%s %s\n", tool, version));
  return FinishStandardOutput(tool);
}
