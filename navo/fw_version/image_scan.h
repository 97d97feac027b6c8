// The image version locator as an incremental scan: the image arrives in
// chunks of any size (the board hands over the whole file as one, the Linux
// tool reads a file piece by piece) and the answer is the same for every way
// of cutting it, because each candidate offset is tried exactly once, in
// order, when all the bytes it needs have arrived.
//
// The rules: the FTPR directory is the first "$CPD" whose name at +12 is
// "FTPR" with all 16 header bytes in the image; the partition ends at the byte
// before the first "$CPD" from the header + 15 on whose bytes 5..7 are zero,
// or at the image's last byte; the version lies behind the first "$MN2" from
// the header on that starts strictly below that end and has its 16 bytes in
// the image. Nothing outside the bytes fed is read.
#ifndef NAVO_FW_VERSION_IMAGE_SCAN_H_
#define NAVO_FW_VERSION_IMAGE_SCAN_H_

#include <cstdint>

#include "navo/types.h"

enum class ImageScanPhase : uint8_t {
  FindHeader,   // looking for the FTPR directory
  InPartition,  // looking for the tag and for the partition's end
  Found,
  NotFound,
};

// The longest look-ahead of any candidate, less one: what a chunk must keep
// of its predecessor.
inline constexpr uint32_t kImageScanCarry = 15;

// Plain state; start it with ImageScanStart. Offsets count from the image's
// first byte.
struct ImageScan {
  ImageScanPhase phase;
  uint64_t fed;          // bytes fed so far
  uint64_t header_next;  // next offset to try for the FTPR directory
  uint64_t start;        // the FTPR directory, once found
  uint64_t tag_next;     // next offset to try for "$MN2"
  uint64_t end_next;     // next offset to try for the header ending the partition
  uint64_t tag_limit;    // once that header is found: tags must start below this
  bool end_known;
  uint32_t carry_bytes;
  uint8_t carry[kImageScanCarry];
  FwVersion version;
  bool directory_found;  // start holds the FTPR directory
  uint64_t manifest_at;  // the tag, once found
};

void ImageScanStart(ImageScan *scan);

// Continues the scan with the image's next `size` bytes.
void ImageScanFeed(ImageScan *scan, const uint8_t *chunk, uint32_t size);

// The same, with the chunk's marker map (marker_scan.h, made by
// SumAndMapMarkers over exactly these bytes): the search then reads only the
// blocks the map marks. The answer is the same as without it.
void ImageScanFeedMapped(ImageScan *scan, const uint8_t *chunk, uint32_t size, const uint64_t *map);

// True once further bytes cannot change the answer.
inline bool ImageScanDecided(const ImageScan &scan) {
  return scan.phase == ImageScanPhase::Found || scan.phase == ImageScanPhase::NotFound;
}

// The image has ended. Returns true and writes *version when the tag was
// found; false leaves *version untouched.
bool ImageScanFinish(ImageScan *scan, FwVersion *version);

// Why a finished scan has no version, for a release engineer who must fix
// the image rather than the board.
enum class ImageScanMiss : uint8_t {
  None,         // the tag was found
  NoDirectory,  // no "$CPD" named "FTPR" with its 16 header bytes in the image
  HeaderAtEnd,  // a "$CPD" begins in the image's last 15 bytes, where no full
                // header fits, and its name bytes there read "FTPR" as far as
                // they go
  NoTag,        // the FTPR partition holds no "$MN2" with its 16 bytes
};

struct ImageScanFindings {
  ImageScanMiss miss;
  bool has_directory;  // the FTPR directory, or for HeaderAtEnd the cut one
  uint64_t directory;
  bool has_manifest;
  uint64_t manifest;
};

// What a scan that ImageScanFinish has ended found, and where.
ImageScanFindings ImageScanExplain(const ImageScan &scan);

// The FTPR partition: *start is its directory header, *end its last byte (the
// byte before the next "$CPD" whose entry count has zero upper bytes, or the
// image's last byte). Returns false, leaving both untouched, when there is no
// FTPR directory with all 16 header bytes inside the image. Same rules and
// code as the scan above, over the whole buffer.
bool FindFtprPartition(const uint8_t *image, uint32_t size, uint32_t *start, uint32_t *end);

#endif  // NAVO_FW_VERSION_IMAGE_SCAN_H_
