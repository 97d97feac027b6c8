// What the Linux tools share at their edges: the text of a file that could not
// be read, and an honest end to standard output.
#ifndef PLATFORM_POSIX_TOOL_IO_H_
#define PLATFORM_POSIX_TOOL_IO_H_

#include <string>

#include "platform/posix/file_stream.h"

// "is a directory", or "cannot open: " / "cannot read: " and strerror's text.
std::string StreamFailureText(const StreamFailure &failure);

// A closed pipe (`navo-image --json *.BIN | head -1`) ends the tool as it ends
// cat: SIGPIPE kills it at its next write, with nothing on standard error,
// and it reads no further for a reader that is gone. Set whatever the parent
// left SIGPIPE at: ignored or blocked, the write would fail with EPIPE and the
// tool would report it like a full disk.
void EndQuietlyOnClosedPipes();

// True while no byte of standard output has been lost. Called right after a
// report is written, it keeps the failed write's reason (errno) for
// FinishStandardOutput, which could not learn it later: a tool with more to
// report stops there.
bool StandardOutputIntact();

// Flushes standard output. When any of it could not be written (a full disk),
// says so on standard error as "TOOL: write error: REASON" and returns false:
// a caller must not take a report it never got for a success.
bool FinishStandardOutput(const char *tool);

// --help's text when help is given, else "TOOL VERSION" for --version; then
// FinishStandardOutput. True when all of it was written.
bool AnswerHelpOrVersion(const char *tool, const char *version, const char *help);

#endif  // PLATFORM_POSIX_TOOL_IO_H_
