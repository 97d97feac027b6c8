// The locator fed in chunks must give exactly the answer of the whole-buffer
// search, wherever the chunks are cut.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/marker_scan.h"
#include "tests/host/fw_image_builder.h"

namespace {

using fwimage::Bytes;
using fwimage::Directory;
using fwimage::Manifest;
using fwimage::Put;

// Feeds the image cut at the given offsets (ascending), each chunk an exactly
// sized heap copy so that the sanitizers catch a read outside it.
// The same chunks also go through a second scan with each chunk's marker map,
// which must come to the same answer and the same findings.
std::optional<FwVersion> ScanInChunks(const Bytes &image, const std::vector<std::size_t> &cuts,
                                      std::string *findings = nullptr) {
  ImageScan scan, mapped;
  ImageScanStart(&scan);
  ImageScanStart(&mapped);
  std::size_t from = 0;
  auto feed = [&](std::size_t to) {
    const auto size = static_cast<uint32_t>(to - from);
    auto chunk = std::make_unique<uint8_t[]>(size + 1);
    if (to > from) std::memcpy(chunk.get(), image.data() + from, size);
    ImageScanFeed(&scan, chunk.get(), size);
    std::vector<uint64_t> map(MarkerMapWords(size) + 1);
    SumAndMapMarkers(chunk.get(), size, 0, map.data());
    ImageScanFeedMapped(&mapped, chunk.get(), size, map.data());
    from = to;
  };
  for (std::size_t cut : cuts) feed(cut);
  feed(image.size());
  FwVersion v{7, 7, 7, 7}, w{7, 7, 7, 7};
  const bool found_mapped = ImageScanFinish(&mapped, &w);
  const bool found = ImageScanFinish(&scan, &v);
  auto describe = [](const ImageScan &done) {
    const ImageScanFindings f = ImageScanExplain(done);
    constexpr const char *kMiss[] = {"found", "no directory", "header at end", "no tag"};
    auto at = [](bool known, uint64_t offset) { return known ? std::to_string(offset) : std::string("-"); };
    return std::string(kMiss[static_cast<int>(f.miss)]) + ", directory " + at(f.has_directory, f.directory) +
           ", tag " + at(f.has_manifest, f.manifest);
  };
  EXPECT_EQ(describe(mapped), describe(scan));
  if (findings != nullptr) *findings = describe(scan);
  if (!found) {
    EXPECT_EQ(v.Major, 7);  // untouched
    EXPECT_FALSE(found_mapped);
    return std::nullopt;
  }
  EXPECT_TRUE(found_mapped);
  EXPECT_TRUE(w.Major == v.Major && w.Minor == v.Minor && w.HotFix == v.HotFix && w.Build == v.Build);
  return v;
}

std::string Show(const std::optional<FwVersion> &v) {
  if (!v) return "none";
  return std::to_string(v->Major) + "." + std::to_string(v->Minor) + "." + std::to_string(v->HotFix) +
         "." + std::to_string(v->Build);
}

struct Layout {
  const char *what;
  Bytes image;
  std::vector<std::size_t> structures;  // where each marker's bytes begin
  std::optional<FwVersion> want;
  const char *findings;  // why, and the offsets
};

std::vector<Layout> Layouts() {
  std::vector<Layout> out;
  {
    Bytes b(2048, 0xFF);
    Directory(b, 0x40, "RBEP");
    Manifest(b, 0x80, {1, 1, 1, 1});
    Directory(b, 0x200, "FTPR");
    Directory(b, 0x280, "XXXX", 0x01000000);  // does not end the partition
    Manifest(b, 0x300, {12, 0, 64, 1551});
    Directory(b, 0x400, "NFTP", 3);
    out.push_back({"all markers", b, {0x40, 0x80, 0x200, 0x280, 0x300, 0x400}, FwVersion{12, 0, 64, 1551},
                   "found, directory 512, tag 768"});
  }
  {
    Bytes b(2048, 0xFF);
    Directory(b, 0x200, "FTPR");
    Directory(b, 0x300, "NFTP", 3);
    Manifest(b, 0x380, {12, 0, 64, 1551});
    out.push_back({"tag behind the ending header", b, {0x200, 0x300, 0x380}, std::nullopt,
                   "no tag, directory 512, tag -"});
  }
  {
    Bytes b(2048, 0xFF);
    Directory(b, 0x200, "FTPR");
    Directory(b, 0x300, "NFTP", 3);
    Manifest(b, 0x300 - 4, {12, 0, 70, 1000});  // fields lie behind the partition's end
    out.push_back({"tag in the last bytes of the partition", b, {0x200, 0x2FC, 0x300},
                   FwVersion{12, 0, 70, 1000}, "found, directory 512, tag 764"});
  }
  {
    Bytes b(0x300, 0xFF);
    Directory(b, 0x200, "FTPR");
    Manifest(b, 0x300 - 16, {12, 0, 64, 1551});
    out.push_back({"tag at the image's end", b, {0x200, 0x2F0}, FwVersion{12, 0, 64, 1551},
                   "found, directory 512, tag 752"});
  }
  {
    Bytes b(0x300, 0xFF);
    Directory(b, 0x200, "FTPR");
    Manifest(b, 0x300 - 15, {12, 0, 64, 1551});
    out.push_back({"tag cut by the image's end", b, {0x200, 0x2F1}, std::nullopt, "no tag, directory 512, tag -"});
  }
  {
    Bytes b(0x210, 0xFF);
    Directory(b, 0x210 - 15, "FTPR");
    out.push_back({"FTPR header cut by the image's end", b, {0x201}, std::nullopt,
                   "header at end, directory 513, tag -"});
  }
  {
    // Only the marker is left: whatever name it had, it could have been FTPR.
    Bytes b(0x210, 0xFF);
    Directory(b, 0x100, "NFTP");
    Directory(b, 0x210 - 4, "FTPR");
    out.push_back({"bare marker in the last bytes", b, {0x100, 0x20C}, std::nullopt,
                   "header at end, directory 524, tag -"});
  }
  {
    Bytes b(0x210, 0xFF);
    Directory(b, 0x210 - 15, "FTXR");
    Manifest(b, 0x100, {1, 2, 3, 4});
    out.push_back({"a cut header of another name", b, {0x100, 0x201}, std::nullopt,
                   "no directory, directory -, tag -"});
  }
  return out;
}

TEST(FwverImageScan, EveryMarkerAcrossAChunkBoundary) {
  for (const Layout &l : Layouts()) {
    SCOPED_TRACE(l.what);
    ASSERT_EQ(Show(fwimage::ReferenceVersion(l.image)), Show(l.want));
    for (std::size_t at : l.structures) {
      for (std::size_t k = 1; k < 16 && at + k < l.image.size(); ++k) {
        SCOPED_TRACE("cut " + std::to_string(k) + " bytes into the marker at " + std::to_string(at));
        std::string findings;
        EXPECT_EQ(Show(ScanInChunks(l.image, {at + k}, &findings)), Show(l.want));
        EXPECT_EQ(findings, l.findings);
        // A chunk shorter than the carry, lying inside the marker.
        if (at + k + 3 < l.image.size()) {
          EXPECT_EQ(Show(ScanInChunks(l.image, {at + k, at + k + 3})), Show(l.want));
        }
      }
    }
    // One byte at a time, and all at once.
    std::vector<std::size_t> every;
    for (std::size_t i = 1; i < l.image.size(); ++i) every.push_back(i);
    std::string bytewise, whole;
    EXPECT_EQ(Show(ScanInChunks(l.image, every, &bytewise)), Show(l.want));
    EXPECT_EQ(Show(ScanInChunks(l.image, {}, &whole)), Show(l.want));
    EXPECT_EQ(bytewise, l.findings);
    EXPECT_EQ(whole, l.findings);
  }
}

TEST(FwverImageScan, RandomImagesAndCutsAgreeWithThePlainSearch) {
  // Filler rich in the markers' bytes, markers planted anywhere, cut anywhere.
  std::mt19937 rng(777);
  const char *alphabet = "$CPDMN2FTR\0\xFF";
  for (int round = 0; round < 3000; ++round) {
    const std::size_t size = rng() % 600;
    Bytes b(size);
    for (auto &x : b) x = static_cast<uint8_t>(alphabet[rng() % 12]);
    const int plants = size > 0 ? static_cast<int>(rng() % 6) : 0;
    for (int i = 0; i < plants; ++i) {
      const std::size_t at = rng() % size;
      switch (rng() % 4) {
        case 0: Directory(b, at, "FTPR", rng() % 2 ? 0 : 0x01000000); break;
        case 1: Directory(b, at, "XXXX", rng() % 2 ? 0 : 0x00010000); break;
        case 2: Manifest(b, at, {uint16_t(rng()), 1, 2, 3}); break;
        default: Put(b, at, "$MN2"); break;
      }
    }
    std::vector<std::size_t> cuts;
    for (std::size_t p = 0; size > 0;) {
      p += 1 + rng() % (round % 3 == 0 ? 4 : 40);
      if (p >= size) break;
      cuts.push_back(p);
    }
    ASSERT_EQ(Show(ScanInChunks(b, cuts)), Show(fwimage::ReferenceVersion(b))) << "round " << round;
  }
}

TEST(FwverImageScan, DecidedBeforeTheEndWhenTheAnswerIsKnown) {
  Bytes b(4096, 0xFF);
  Directory(b, 0x100, "FTPR");
  Manifest(b, 0x180, {12, 0, 64, 1551});
  ImageScan scan;
  ImageScanStart(&scan);
  ImageScanFeed(&scan, b.data(), 0x200);
  EXPECT_TRUE(ImageScanDecided(scan));
  // Later bytes change nothing, not even another FTPR directory.
  Bytes rest(4096 - 0x200, 0);
  Directory(rest, 0, "FTPR", 0);
  ImageScanFeed(&scan, rest.data(), static_cast<uint32_t>(rest.size()));
  FwVersion v{};
  ASSERT_TRUE(ImageScanFinish(&scan, &v));
  EXPECT_EQ(v.Build, 1551);
}

}  // namespace
