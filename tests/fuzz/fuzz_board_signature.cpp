// The board signature search on legacy areas of any size and content, against
// a plain search: "$$ZAN-" or "$$VEK-" anywhere wholly inside the area, and no
// byte read outside it.
#include <cstdint>
#include <cstring>

#include "navo/board_check.h"
#include "tests/fuzz/support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  bool expected = false;
  for (std::size_t p = 0; p + 6 <= size && !expected; ++p)
    expected = std::memcmp(data + p, "$$ZAN-", 6) == 0 || std::memcmp(data + p, "$$VEK-", 6) == 0;
  FUZZ_CHECK(HasBoardSignature(data, size) == expected);
  return 0;
}
