// The version the Linux tools give for --version: 1.1.0 for a release build, else
// 1.1.0+g<commit> (tools/utility-version.sh --build says which). The build writes its
// definition afresh whenever the commit or the tree's state changes.
#ifndef PLATFORM_POSIX_TOOLS_VERSION_H_
#define PLATFORM_POSIX_TOOLS_VERSION_H_

extern const char kToolsVersion[];

#endif  // PLATFORM_POSIX_TOOLS_VERSION_H_
