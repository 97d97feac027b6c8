#include "navo/fw_version/image_version.h"

#include "navo/console.h"
#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/marker_scan.h"
#include "platform/guards.h"
#include "platform/print.h"

namespace {

constexpr char kDirectoryMarker[] = "$CPD";
constexpr char kFtprName[] = "FTPR";

// Directory header: the name at offset 12, the header is 16 bytes long; a
// header that ends the partition has zero bytes at 5..7 (upper entry count).
constexpr uint32_t kNameOffset = 12;
constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kEndSearchOffset = 15;
constexpr uint32_t kEntryCountBytes = 8;
// Offsets below this have `bytes` bytes of the image behind them.
uint32_t StartsBelow(uint32_t size, uint32_t bytes) { return size >= bytes ? size - bytes + 1 : 0; }

}  // namespace

bool FindFtprPartition(const uint8_t *image, uint32_t size, uint32_t *start, uint32_t *end) {
  // An empty file may come without a buffer at all.
  if (image == nullptr) return false;
  const uint32_t header_limit = StartsBelow(size, kHeaderBytes);
  uint32_t p = 0;
  bool found = false;
  while (FindMarker(image, size, p, header_limit, kDirectoryMarker, &p)) {
    if (MarkerAt(image, p + kNameOffset, kFtprName)) {
      found = true;
      break;
    }
    ++p;
  }
  // A whole header ends at p + 15, so the end search always has a place to run.
  if (!found) return false;

  uint32_t last = size - 1;
  const uint32_t next_limit = StartsBelow(size, kEntryCountBytes);
  uint32_t q = p + kEndSearchOffset;
  while (FindMarker(image, size, q, next_limit, kDirectoryMarker, &q)) {
    if (image[q + 5] == 0 && image[q + 6] == 0 && image[q + 7] == 0) {
      last = q - 1;
      break;
    }
    ++q;
  }
  *start = p;
  *end = last;
  return true;
}

PlatStatus FindManifestVersion(const uint8_t *image, uint32_t size, FwVersion *version) {
  // The board holds the whole image: one chunk.
  ImageScan scan;
  ImageScanStart(&scan);
  ImageScanFeed(&scan, image, size);
  if (ImageScanFinish(&scan, version)) return PLAT_SUCCESS;
  Print(u"Fail.\n\n");
  Print(u"Error F07: Not Find Version sting.\n");
  return PLAT_NOT_FOUND;
}

PlatStatus ReadImageFwVersion(const char16_t *file_name, FwVersion *version) {
  plat::FileGuard file;
  PlatFileInfo info{};
  void *data = nullptr;
  uint64_t size = 0;
  PlatStatus status = LoadWholeFile(file_name, file.Out(), &info, &data, &size, 0);
  // The loader hands over whatever it got, on failure too.
  plat::PoolBuffer buffer;
  buffer.Adopt(data, size);
  if (status != PLAT_SUCCESS) return status;
  if (data == nullptr) size = 0;

  // Only the bytes actually read are searched; an image past 4 GiB is searched
  // in its first 4 GiB rather than in the low 32 bits of its size.
  if (size > info.FileSize) size = info.FileSize;
  const uint32_t searched =
      size > kMaxSearchedImageBytes ? kMaxSearchedImageBytes : static_cast<uint32_t>(size);
  return FindManifestVersion(static_cast<const uint8_t *>(data), searched, version);
}
