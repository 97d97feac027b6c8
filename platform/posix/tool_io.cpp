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

void EndQuietlyOnClosedPipes() {
  static_cast<void>(std::signal(SIGPIPE, SIG_DFL));
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  static_cast<void>(sigprocmask(SIG_UNBLOCK, &pipe_signal, nullptr));
}

namespace {

// Why the first lost bytes of standard output were lost; 0 while none are.
int lost_output_error = 0;

}  // namespace

bool StandardOutputIntact() {
  if (std::ferror(stdout) == 0) return true;
  if (lost_output_error == 0) lost_output_error = errno;
  return false;
}

bool FinishStandardOutput(const char *tool) {
  // The flush writes what is still buffered and sets errno afresh if that
  // fails; bytes lost earlier are gone from the buffer (glibc drops them
  // with the failed write), and only StandardOutputIntact kept their reason.
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && std::ferror(stdout) == 0) return true;
  const int error = lost_output_error != 0 ? lost_output_error : errno;
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
