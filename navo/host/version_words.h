// What the Linux tools say about versions and update decisions, in the board
// tool's own words: its version parser for options, its advice lines.
#ifndef NAVO_HOST_VERSION_WORDS_H_
#define NAVO_HOST_VERSION_WORDS_H_

#include <optional>
#include <string>
#include <string_view>

#include "navo/fw_version/update_decision.h"
#include "navo/types.h"

// "a.b.c.d" in decimal.
std::string VersionText(const FwVersion &v);

// "update", "downgrade" or "same version".
const char *DecisionName(UpdateDecision d);

// The board's advice line for an ME, without its line end.
std::string AdviceText(UpdateDecision d);

// Parses the VERSION of `option` with the board's parser into *out. On a
// refusal says why on standard error, as "TOOL: OPTION TEXT: Error F08: ..."
// or, for a Major of 0, as a usage error, and returns false.
bool ParseVersionOption(const char *tool, std::string_view option, const char *text,
                        std::optional<FwVersion> *out);

#endif  // NAVO_HOST_VERSION_WORDS_H_
