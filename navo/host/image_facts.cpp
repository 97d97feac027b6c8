#include "navo/host/image_facts.h"

#include "chksum/chksum.h"
#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/image_version.h"
#include "navo/fw_version/marker_scan.h"

namespace {

struct Pass {
  ImageScan scan;
  uint64_t size = 0;
  uint32_t sum = 0;
};

// At most this much at a time: the map of a whole read piece fits on the stack.
constexpr uint32_t kSlice = kStreamChunkBytes;

// The piece is still in the cache from the read: one pass sums it and maps the
// blocks that may hold a marker, and the search then reads only those. That
// pass needs the wide vectors to pay: with 16-byte ones its three compares per
// vector cost more than the sum and the plain search one after the other.
void SumAndScan(Pass *pass, const uint8_t *data, uint32_t size) {
  uint64_t map[MarkerMapWords(kSlice)];
  const bool one_pass = BestMarkerVectors() == MarkerVectors::Bytes32;
  for (uint32_t at = 0; at < size; at += kSlice) {
    const uint32_t n = size - at < kSlice ? size - at : kSlice;
    if (ImageScanDecided(pass->scan) || !one_pass) {
      pass->sum = chksum::ContinueByteSum(pass->sum, data + at, n);
      ImageScanFeed(&pass->scan, data + at, n);
      continue;
    }
    pass->sum = SumAndMapMarkers(data + at, n, pass->sum, map);
    ImageScanFeedMapped(&pass->scan, data + at, n, map);
  }
}

void TakePiece(void *context, const uint8_t *data, std::size_t size) {
  auto *pass = static_cast<Pass *>(context);
  // The board searches an image past 4 GiB in its first bytes only.
  uint64_t searched = 0;
  if (pass->size < kMaxSearchedImageBytes) {
    const uint64_t room = kMaxSearchedImageBytes - pass->size;
    searched = size < room ? size : room;
    SumAndScan(pass, data, static_cast<uint32_t>(searched));
  }
  pass->sum = chksum::ContinueByteSum(pass->sum, data + searched, size - searched);
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
