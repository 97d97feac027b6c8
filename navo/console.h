// Console services shared by the utility's commands.
#ifndef NAVO_CONSOLE_H_
#define NAVO_CONSOLE_H_

#include <cstdint>

#include "platform/platform.h"

enum class PromptKind : uint8_t { PromptYesNo = 1, PromptAnyKey = 2 };

// Shows the message and waits: PromptYesNo returns 1 for Y/y and 0 for N/n;
// PromptAnyKey returns 0 after any key. Echoes nothing, ends no line.
uint8_t PromptUser(const char16_t *message, PromptKind kind);

// Upper-cases a..z in place; returns its argument.
char16_t *UpcaseInPlace(char16_t *text);

// The usage table and its closing frame row (the banner is the box's top).
void PrintUsage();

#endif  // NAVO_CONSOLE_H_
