#include "navo/host/image_facts.h"

#include "chksum/chksum.h"
#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/image_version.h"

namespace {

struct Pass {
  ImageScan scan;
  uint64_t size = 0;
  uint32_t sum = 0;
};

void TakePiece(void *context, const uint8_t *data, std::size_t size) {
  auto *pass = static_cast<Pass *>(context);
  pass->sum = chksum::ContinueByteSum(pass->sum, data, size);
  // The board searches an image past 4 GiB in its first bytes only.
  if (pass->size < kMaxSearchedImageBytes) {
    const uint64_t room = kMaxSearchedImageBytes - pass->size;
    const uint64_t searched = size < room ? size : room;
    ImageScanFeed(&pass->scan, data, static_cast<uint32_t>(searched));
  }
  pass->size += size;
}

}  // namespace

bool ReadImageFacts(const char *path, ImageFacts *facts, StreamFailure *failure) {
  Pass pass;
  ImageScanStart(&pass.scan);
  if (!StreamFile(path, TakePiece, &pass, failure)) return false;
  *facts = ImageFacts{pass.size, pass.sum, false, FwVersion{0, 0, 0, 0}, ImageScanFindings{}};
  facts->manifest = ImageScanFinish(&pass.scan, &facts->version);
  facts->findings = ImageScanExplain(pass.scan);
  return true;
}
