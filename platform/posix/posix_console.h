// Where the Linux console goes: standard output, or standard error for a
// message that must not mix with a tool's report (a malformed version given
// on the command line).
#ifndef PLATFORM_POSIX_POSIX_CONSOLE_H_
#define PLATFORM_POSIX_POSIX_CONSOLE_H_

void PosixConsoleToStandardError(bool to_stderr);

#endif  // PLATFORM_POSIX_POSIX_CONSOLE_H_
