#include "navo/board_check.h"

#include <cstddef>

#include "platform/platform.h"
#include "platform/print.h"

namespace {

constexpr std::size_t kSignatureLength = 6;
constexpr char kSignatures[][kSignatureLength + 1] = {"$$ZAN-", "$$VEK-"};

bool SignatureAt(const volatile uint8_t *at, const char *signature) {
  for (std::size_t i = 0; i < kSignatureLength; ++i) {
    if (at[i] != static_cast<uint8_t>(signature[i])) return false;
  }
  return true;
}

}  // namespace

bool HasBoardSignature(const volatile uint8_t *area, uint64_t length) {
  if (area == nullptr || length < kSignatureLength) return false;
  // The last start position is the one whose final byte is the area's last:
  // comparing further would read beyond the area.
  for (uint64_t offset = 0; offset <= length - kSignatureLength; ++offset) {
    for (const char *signature : kSignatures) {
      if (SignatureAt(area + offset, signature)) return true;
    }
  }
  return false;
}

bool CheckBoardSignature() {
  Print(u"%a", "Check ZAN Board...");
  if (HasBoardSignature(PlatPhysicalMemory(kLegacyAreaBase, kLegacyAreaSize), kLegacyAreaSize)) {
    Print(u"%a\n", "OK");
    return true;
  }
  Print(u"%a\n\n", "Fail");
  Print(u"%a\n", "Error F02: Only supports products of ZAN Corp.");
  return false;
}
