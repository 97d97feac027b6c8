#include "navo/cold_reset.h"

#include <cstdint>

#include "platform/platform.h"

namespace {

constexpr uint16_t kResetControlPort = 0xCF9;
// System reset with the CPU held in reset as well: a cold start, not a warm one.
constexpr uint8_t kFullResetWithCpu = 0x0E;

}  // namespace

void ColdReset() { PlatIoWrite8(kResetControlPort, kFullResetWithCpu); }
