// What the check command makes of a board version and an image's: update,
// downgrade or nothing, with the advice line it prints for each.
#ifndef NAVO_FW_VERSION_UPDATE_DECISION_H_
#define NAVO_FW_VERSION_UPDATE_DECISION_H_

#include "navo/fw_version/version_compare.h"
#include "navo/types.h"

enum class UpdateDecision : uint8_t { SameVersion, Update, Downgrade };

constexpr UpdateDecision DecideUpdate(const FwVersion &board, const FwVersion &file) {
  const int order = CompareFwVersion(board, file);
  return order == 0 ? UpdateDecision::SameVersion
                    : order < 0 ? UpdateDecision::Update : UpdateDecision::Downgrade;
}

// The advice line; "%s" takes the kind name.
constexpr const char16_t *UpdateAdvice(UpdateDecision decision) {
  switch (decision) {
    case UpdateDecision::Update:
      return u"There is a new version of %s firmware. It is recommended to update.\n";
    case UpdateDecision::Downgrade:
      return u"%s firmware is an old version. Downgrade is not recommended.\n";
    case UpdateDecision::SameVersion:
      break;
  }
  return u"Your current %s firmware is already latest version.\n";
}

#endif  // NAVO_FW_VERSION_UPDATE_DECISION_H_
