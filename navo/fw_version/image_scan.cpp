#include "navo/fw_version/image_scan.h"

#include "navo/fw_version/marker_scan.h"

namespace {

constexpr char kDirectoryMarker[] = "$CPD";
constexpr char kFtprName[] = "FTPR";
constexpr char kManifestTag[] = "$MN2";

// Directory header: the name at offset 12, 16 bytes in all; a header that
// ends the partition is tried from 15 bytes behind the FTPR header on and has
// zero bytes at 5..7 (the upper entry count), 8 bytes in all.
constexpr uint32_t kNameOffset = 12;
constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kEndSearchOffset = 15;
constexpr uint32_t kEndHeaderBytes = 8;
// Manifest: the four 16-bit fields at offsets 8..15 behind the tag.
constexpr uint32_t kVersionOffset = 8;
constexpr uint32_t kManifestBytes = 16;

static_assert(MarkerIsMapped(kDirectoryMarker) && MarkerIsMapped(kManifestTag),
              "a marker map must cover every marker the scan looks for");
static_assert(kImageScanCarry + 1 == kHeaderBytes && kImageScanCarry + 1 == kManifestBytes,
              "the carry must hold every candidate still waiting for bytes");

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint64_t Max(uint64_t a, uint64_t b) { return a > b ? a : b; }
uint64_t Min(uint64_t a, uint64_t b) { return a < b ? a : b; }

// A contiguous part of the image: bytes [base, base + size) at data.
struct Window {
  const uint8_t *data;
  uint64_t base;
  uint32_t size;
  const uint64_t *map = nullptr;  // of these bytes, when the caller made one

  // One past the last offset that has `bytes` bytes inside the window (0 when
  // none has). Every offset still to be tried lies at or above base whenever
  // it lies below this, because each window leaves its untried offsets in its
  // last 15 bytes and the next window starts with those.
  uint64_t Cap(uint32_t bytes) const { return size >= bytes ? base + size - bytes + 1 : 0; }
  const uint8_t *At(uint64_t offset) const { return data + (offset - base); }

  // The first `marker` at an offset in [from, cap), cap <= Cap(4).
  bool Find(uint64_t from, uint64_t cap, const char (&marker)[5], uint64_t *at) const {
    if (from >= cap) return false;
    uint32_t found = 0;
    if (!FindMarker(data, size, static_cast<uint32_t>(from - base), static_cast<uint32_t>(cap - base),
                    marker, &found, map)) {
      return false;
    }
    *at = base + found;
    return true;
  }
};

// The first header in [from, cap) that may end the partition.
bool FindPartitionEnd(const Window &w, uint64_t from, uint64_t cap, uint64_t *at) {
  uint64_t q = from;
  while (w.Find(q, cap, kDirectoryMarker, &q)) {
    const uint8_t *h = w.At(q);
    if (h[5] == 0 && h[6] == 0 && h[7] == 0) {
      *at = q;
      return true;
    }
    ++q;
  }
  return false;
}

void FindHeader(ImageScan *s, const Window &w) {
  const uint64_t cap = w.Cap(kHeaderBytes);
  uint64_t p = s->header_next;
  while (w.Find(p, cap, kDirectoryMarker, &p)) {
    if (MarkerAt(w.At(p), kNameOffset, kFtprName)) {
      s->start = p;
      s->directory_found = true;
      s->tag_next = p;
      s->end_next = p + kEndSearchOffset;
      s->phase = ImageScanPhase::InPartition;
      return;
    }
    ++p;
  }
  s->header_next = Max(s->header_next, cap);
}

void ScanPartition(ImageScan *s, const Window &w) {
  uint64_t tag_cap = w.Cap(kManifestBytes);
  if (s->end_known) tag_cap = Min(tag_cap, s->tag_limit);
  uint64_t r = 0;
  if (w.Find(s->tag_next, tag_cap, kManifestTag, &r)) {
    // The tag counts when no ending header starts at or before r + 1 (the
    // partition's last byte must lie above r); r + 16 bytes are here, so
    // every such header has its 8 bytes in the window.
    uint64_t q = 0;
    if (!s->end_known && FindPartitionEnd(w, s->end_next, r + 2, &q)) {
      s->phase = ImageScanPhase::NotFound;
      return;
    }
    s->manifest_at = r;
    const uint8_t *v = w.At(r + kVersionOffset);
    s->version = FwVersion{Le16(v), Le16(v + 2), Le16(v + 4), Le16(v + 6)};
    s->phase = ImageScanPhase::Found;
    return;
  }
  s->tag_next = Max(s->tag_next, tag_cap);

  if (!s->end_known) {
    const uint64_t end_cap = w.Cap(kEndHeaderBytes);
    uint64_t q = 0;
    if (FindPartitionEnd(w, s->end_next, end_cap, &q)) {
      s->end_known = true;
      s->tag_limit = q - 1;  // the partition's last byte
    } else {
      s->end_next = Max(s->end_next, end_cap);
    }
  }
  // Tags at or above the limit can no longer count; a tag still waiting for
  // its bytes below it may.
  if (s->end_known && s->tag_next >= s->tag_limit) s->phase = ImageScanPhase::NotFound;
}

void CopyBytes(uint8_t *to, const uint8_t *from, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
}

void ScanWindow(ImageScan *s, const Window &w) {
  if (s->phase == ImageScanPhase::FindHeader) FindHeader(s, w);
  if (s->phase == ImageScanPhase::InPartition) ScanPartition(s, w);
}

}  // namespace

void ImageScanStart(ImageScan *scan) {
  *scan = ImageScan{};
  scan->phase = ImageScanPhase::FindHeader;
}

void ImageScanFeed(ImageScan *scan, const uint8_t *chunk, uint32_t size) {
  ImageScanFeedMapped(scan, chunk, size, nullptr);
}

void ImageScanFeedMapped(ImageScan *scan, const uint8_t *chunk, uint32_t size, const uint64_t *map) {
  if (ImageScanDecided(*scan) || size == 0 || chunk == nullptr) return;

  // The seam: the carried bytes and the chunk's first ones, for the offsets
  // that start in the previous chunk and reach into this one.
  uint8_t seam[2 * kImageScanCarry];
  const uint32_t head = size < kImageScanCarry ? size : kImageScanCarry;
  CopyBytes(seam, scan->carry, scan->carry_bytes);
  CopyBytes(seam + scan->carry_bytes, chunk, head);
  const uint32_t seam_bytes = scan->carry_bytes + head;
  ScanWindow(scan, Window{seam, scan->fed - scan->carry_bytes, seam_bytes});
  ScanWindow(scan, Window{chunk, scan->fed, size, map});

  // Carry the last bytes seen: of the chunk, or of the seam when the chunk is
  // shorter than the carry (the seam then holds all of it).
  const uint8_t *seen_end = size >= kImageScanCarry ? chunk + size : seam + seam_bytes;
  const uint32_t available = size >= kImageScanCarry ? size : seam_bytes;
  scan->carry_bytes = available < kImageScanCarry ? available : kImageScanCarry;
  CopyBytes(scan->carry, seen_end - scan->carry_bytes, scan->carry_bytes);
  scan->fed += size;
}

bool ImageScanFinish(ImageScan *scan, FwVersion *version) {
  // The carried bytes are the image's last: what still waits there is tried
  // against the image's real end.
  if (!ImageScanDecided(*scan))
    ScanWindow(scan, Window{scan->carry, scan->fed - scan->carry_bytes, scan->carry_bytes});
  if (scan->phase != ImageScanPhase::Found) {
    scan->phase = ImageScanPhase::NotFound;
    return false;
  }
  *version = scan->version;
  return true;
}

ImageScanFindings ImageScanExplain(const ImageScan &scan) {
  if (scan.phase == ImageScanPhase::Found)
    return ImageScanFindings{ImageScanMiss::None, true, scan.start, true, scan.manifest_at};
  if (scan.directory_found) return ImageScanFindings{ImageScanMiss::NoTag, true, scan.start, false, 0};
  // Without a directory the scan never decides early, so the carry holds the
  // image's last bytes: the only place a header too short to count can lie.
  const uint64_t base = scan.fed - scan.carry_bytes;
  for (uint32_t i = 0; i + 4 <= scan.carry_bytes; ++i) {
    if (!MarkerAt(scan.carry, i, kDirectoryMarker)) continue;
    bool could_be_ftpr = true;
    for (uint32_t k = 0; k < 4 && i + kNameOffset + k < scan.carry_bytes; ++k)
      could_be_ftpr = could_be_ftpr && scan.carry[i + kNameOffset + k] == static_cast<uint8_t>(kFtprName[k]);
    if (could_be_ftpr) return ImageScanFindings{ImageScanMiss::HeaderAtEnd, true, base + i, false, 0};
  }
  return ImageScanFindings{ImageScanMiss::NoDirectory, false, 0, false, 0};
}

bool FindFtprPartition(const uint8_t *image, uint32_t size, uint32_t *start, uint32_t *end) {
  // An empty file may come without a buffer at all.
  if (image == nullptr) return false;
  const Window whole{image, 0, size};
  ImageScan scan;
  ImageScanStart(&scan);
  FindHeader(&scan, whole);
  if (scan.phase != ImageScanPhase::InPartition) return false;
  uint64_t q = 0;
  const bool ended = FindPartitionEnd(whole, scan.end_next, whole.Cap(kEndHeaderBytes), &q);
  *start = static_cast<uint32_t>(scan.start);
  *end = ended ? static_cast<uint32_t>(q - 1) : size - 1;
  return true;
}
