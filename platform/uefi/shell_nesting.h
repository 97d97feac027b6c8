/*
 * Whether a command line handed to the shell's Execute needs the options that
 * keep a nested shell quiet ("-nomap -noversion ").
 *
 * A UEFI Shell that nests runs each command line in a new shell, which takes
 * those words as its own options. A shell started with -nonest (its read-only
 * variable `nonesting` is "True") and the older EFI shell interface run the line
 * in place, where the words would be taken as the command's name.
 */
#ifndef PLATFORM_UEFI_SHELL_NESTING_H_
#define PLATFORM_UEFI_SHELL_NESTING_H_

#include "platform/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* HasShellProtocol: the UEFI Shell protocol is present (0 for the older shell
 * interface). Nonesting: that shell's `nonesting` variable, NULL when unset.
 * Returns 1 when the prefix belongs in front of the line, 0 when not. */
int PlatExecuteNeedsQuietPrefix(int HasShellProtocol, const PlatChar16 *Nonesting);

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_UEFI_SHELL_NESTING_H_ */
