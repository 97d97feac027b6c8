// The BIOS image locator on arbitrary images, against a plain byte-by-byte
// model of the search: the block-wise marker filter must find exactly what the
// simple scan finds, also when the image arrives in chunks cut anywhere, and
// nothing may be read outside the image. The same image then goes through the
// whole read from a file, which must agree and give back its buffer and file.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/image_version.h"
#include "tests/sim/sim_board.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

bool At(const uint8_t *d, uint64_t size, uint64_t p, const char *marker) {
  return p + 4 <= size && std::memcmp(d + p, marker, 4) == 0;
}

struct Range {
  bool found = false;
  uint32_t start = 0, end = 0;
};

// The partition as the design scans for it, with every read kept inside the
// image: a header needs its 16 bytes, an ending header its 8.
Range ModelFtpr(const uint8_t *d, uint32_t size) {
  Range r;
  for (uint64_t p = 0; p + 16 <= size; ++p) {
    if (At(d, size, p, "$CPD") && At(d, size, p + 12, "FTPR")) {
      r.found = true;
      r.start = static_cast<uint32_t>(p);
      break;
    }
  }
  if (!r.found) return r;
  r.end = size - 1;
  for (uint64_t q = r.start + 15; q + 8 <= size; ++q) {
    if (At(d, size, q, "$CPD") && d[q + 5] == 0 && d[q + 6] == 0 && d[q + 7] == 0) {
      r.end = static_cast<uint32_t>(q - 1);
      break;
    }
  }
  return r;
}

bool ModelVersion(const uint8_t *d, uint32_t size, FwVersion *v) {
  Range r = ModelFtpr(d, size);
  if (!r.found) return false;
  for (uint64_t p = r.start; p < r.end && p + 16 <= size; ++p) {
    if (At(d, size, p, "$MN2")) {
      auto le = [&](uint64_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); };
      *v = FwVersion{le(p + 8), le(p + 10), le(p + 12), le(p + 14)};
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size > UINT32_MAX) return 0;
  const auto n = static_cast<uint32_t>(size);
  sim::Board board;

  uint32_t start = 0xDEAD, end = 0xBEEF;
  const bool found = FindFtprPartition(data, n, &start, &end);
  const Range model = ModelFtpr(data, n);
  FUZZ_CHECK(found == model.found);
  if (found) {
    FUZZ_CHECK(start == model.start && end == model.end);
  } else {
    FUZZ_CHECK(start == 0xDEAD && end == 0xBEEF);  // untouched
  }

  const FwVersion sentinel{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
  FwVersion version = sentinel;
  const PlatStatus status = FindManifestVersion(data, n, &version);
  FwVersion expected = sentinel;
  const bool model_found = ModelVersion(data, n, &expected);
  if (model_found) {
    FUZZ_CHECK(status == PLAT_SUCCESS);
    FUZZ_CHECK(fuzz::Same(version, expected));
    FUZZ_CHECK(board.console().screen().Raw().empty());
  } else {
    FUZZ_CHECK(status == PLAT_NOT_FOUND);
    FUZZ_CHECK(fuzz::Same(version, sentinel));
    FUZZ_CHECK(board.console().screen().Raw() == u"Fail.\r\n\r\nError F07: Not Find Version sting.\r\n");
  }

  // The same image in chunks of 1 to 32 bytes, the lengths drawn from the
  // image's own bytes so that the fuzzer steers the cuts too.
  ImageScan scan;
  ImageScanStart(&scan);
  uint32_t fed = 0;
  while (fed < n) {
    uint32_t piece = 1 + (data[fed] ^ (fed * 7)) % 32;
    if (piece > n - fed) piece = n - fed;
    ImageScanFeed(&scan, data + fed, piece);
    fed += piece;
  }
  FwVersion chunked = sentinel;
  FUZZ_CHECK(ImageScanFinish(&scan, &chunked) == model_found);
  FUZZ_CHECK(fuzz::Same(chunked, model_found ? expected : sentinel));
  // Why not, and where: the tag that gave the version, the directory the
  // plain search found, or a "$CPD" too near the end for its 16 bytes.
  const ImageScanFindings why = ImageScanExplain(scan);
  FUZZ_CHECK((why.miss == ImageScanMiss::None) == model_found && why.has_manifest == model_found);
  FUZZ_CHECK((why.has_directory && why.miss != ImageScanMiss::HeaderAtEnd) == model.found);
  if (model.found) FUZZ_CHECK(why.directory == model.start);
  if (why.has_manifest) {
    FUZZ_CHECK(why.manifest + 16 <= n && At(data, n, why.manifest, "$MN2"));
    FUZZ_CHECK(data[why.manifest + 14] + 256 * data[why.manifest + 15] == expected.Build);
  }
  if (why.miss == ImageScanMiss::HeaderAtEnd)
    FUZZ_CHECK(why.directory + 16 > n && At(data, n, why.directory, "$CPD"));

  sim::Board from_file;
  from_file.PutFile(u"FS0:\\IMAGE.BIN", std::vector<uint8_t>(data, data + size));
  FwVersion read = sentinel;
  const PlatStatus read_status = ReadImageFwVersion(u"IMAGE.BIN", &read);
  FUZZ_CHECK(read_status == status && fuzz::Same(read, version));
  FUZZ_CHECK(from_file.console().screen().Raw() == board.console().screen().Raw());
  FUZZ_CHECK(from_file.LiveAllocations() == 0 && from_file.OpenFiles() == 0);
  return 0;
}
