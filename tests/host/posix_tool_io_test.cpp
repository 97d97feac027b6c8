// The end of the Linux tools' output: a closed pipe ends a tool quietly by
// SIGPIPE, as it ends cat, whatever its parent left SIGPIPE at; a full disk
// is named on standard error with a failing status.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/posix/tool_io.h"

namespace {

enum class Output : uint8_t { ClosedPipe, FullDisk };
enum class Parent : uint8_t { Default, Ignores, Blocks };

// A tool's run in the child: SIGPIPE as the parent hands it on, the tools'
// setting, a report (which a write to a pipe or disk takes in pieces of
// stdio's buffer), the end of output.
[[noreturn]] void RunTool(Output output, Parent parent, std::size_t report_bytes) {
  if (parent == Parent::Ignores) static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
  if (parent == Parent::Blocks) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    static_cast<void>(sigprocmask(SIG_BLOCK, &set, nullptr));
  }
  int fd = -1;
  if (output == Output::FullDisk) {
    fd = ::open("/dev/full", O_WRONLY);
  } else {
    int ends[2];
    if (::pipe(ends) == 0) {
      ::close(ends[0]);
      fd = ends[1];
    }
  }
  std::fflush(stdout);
  if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) std::_Exit(99);
  EndQuietlyOnClosedPipes();
  const std::string report(report_bytes, 'x');
  static_cast<void>(std::fwrite(report.data(), 1, report.size(), stdout));
  static_cast<void>(StandardOutputIntact());
  std::exit(FinishStandardOutput("tool") ? 0 : 1);
}

TEST(PosixToolIoDeathTest, ClosedPipeEndsQuietlyAndFullDiskIsReported) {
  struct Case {
    const char *what;
    Output output;
    Parent parent;
    std::size_t report_bytes;
    std::function<bool(int)> ended;
    std::string errors;
  };
  const Case cases[] = {
      {"closed pipe", Output::ClosedPipe, Parent::Default, 100, testing::KilledBySignal(SIGPIPE), ""},
      {"closed pipe, SIGPIPE ignored by the parent", Output::ClosedPipe, Parent::Ignores, 100,
       testing::KilledBySignal(SIGPIPE), ""},
      {"closed pipe, SIGPIPE blocked by the parent", Output::ClosedPipe, Parent::Blocks, 100,
       testing::KilledBySignal(SIGPIPE), ""},
      {"full disk at the last write", Output::FullDisk, Parent::Ignores, 100, testing::ExitedWithCode(1),
       "tool: write error: No space left on device\n"},
      {"full disk while writing", Output::FullDisk, Parent::Default, 64 * 1024, testing::ExitedWithCode(1),
       "tool: write error: No space left on device\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(RunTool(c.output, c.parent, c.report_bytes), c.ended, testing::Eq(c.errors));
  }
}

}  // namespace
