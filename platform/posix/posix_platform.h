// Where the Linux console goes: standard output, or a string for a message
// that the tool rewords before it shows it (the board's F08 line for a
// malformed version given on the command line).
#ifndef PLATFORM_POSIX_POSIX_PLATFORM_H_
#define PLATFORM_POSIX_POSIX_PLATFORM_H_

#include <string>

// While `into` is not null, console text is appended there instead of being
// written to standard output.
void PosixConsoleCapture(std::string *into);

#endif  // PLATFORM_POSIX_POSIX_PLATFORM_H_
