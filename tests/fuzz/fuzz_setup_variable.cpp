// The MeInfoSetup variable decoder on variables of any size and content,
// against the rule: 17 to 22 bytes, four little-endian 32-bit fields at bytes
// 1..16, each below 9999. The verbose dump runs too (it reads every byte of
// the 22-byte buffer), and without it nothing may be printed.
//
// Input: one byte of set-up (bit 0: verbose; bit 1: no variable at all), then
// the variable's bytes.
#include <cstdint>
#include <vector>

#include "navo/fw_version/setup_variable.h"
#include "tests/sim/sim_board.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

uint32_t Le32(const std::vector<uint8_t> &d, std::size_t at) {
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
         static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

bool Model(const std::vector<uint8_t> &d, FwVersion *v) {
  if (d.size() < 17 || d.size() > 22) return false;
  uint32_t f[4];
  for (int i = 0; i < 4; ++i) {
    f[i] = Le32(d, 1 + 4 * i);
    if (f[i] >= 9999) return false;
  }
  *v = FwVersion{static_cast<uint16_t>(f[0]), static_cast<uint16_t>(f[1]),
                 static_cast<uint16_t>(f[2]), static_cast<uint16_t>(f[3])};
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::Input in(data, size);
  const uint8_t setup = in.Byte();
  const uint8_t verbose = setup & 1;
  const bool missing = setup & 2;
  const std::vector<uint8_t> variable = in.Rest();

  sim::Board board;
  if (!missing) board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, variable);

  FwVersion version{0x1111, 0x2222, 0x3333, 0x4444};
  const PlatStatus status = ReadMeInfoSetupVersion(&version, verbose);

  FwVersion expected{};
  if (!missing && Model(variable, &expected)) {
    FUZZ_CHECK(status == PLAT_SUCCESS);
    FUZZ_CHECK(fuzz::Same(version, expected));
  } else {
    FUZZ_CHECK(status == 1);
    FUZZ_CHECK(fuzz::Same(version, FwVersion{0, 0, 0, 0}));
  }
  if (!verbose) FUZZ_CHECK(board.console().screen().Raw().empty());
  return 0;
}
