// What the two Linux tools share at their edges: the text of a file that could
// not be read, and an honest end to standard output.
#ifndef PLATFORM_POSIX_TOOL_IO_H_
#define PLATFORM_POSIX_TOOL_IO_H_

#include <string>

#include "platform/posix/file_stream.h"

// "is a directory", or "cannot open: " / "cannot read: " and strerror's text.
std::string StreamFailureText(const StreamFailure &failure);

// A closed pipe then fails the write (EPIPE) instead of killing the tool
// silently, so the failure is reported like a full disk.
void ReportClosedPipes();

// Flushes standard output. When any of it could not be written, says so on
// standard error as "TOOL: write error: REASON" and returns false: a caller
// must not take a report it never got for a success.
bool FinishStandardOutput(const char *tool);

// --help's text when help is given, else "TOOL VERSION" for --version; then
// FinishStandardOutput. True when all of it was written.
bool AnswerHelpOrVersion(const char *tool, const char *version, const char *help);

#endif  // PLATFORM_POSIX_TOOL_IO_H_
