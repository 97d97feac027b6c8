#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/image_version.h"
#include "tests/sim/sim_board.h"
#include "tests/host/fw_image_builder.h"

namespace {

using fwimage::Bytes;
using fwimage::Directory;
using fwimage::Manifest;
using fwimage::Put;

constexpr char kF07[] = "Fail.\n\nError F07: Not Find Version sting.\n";

std::string Printed(const sim::Board &board) {
  std::string out;
  for (char c : sim::Narrow(board.console().screen().Raw()))
    if (c != '\r') out += c;
  return out;
}

struct ImageCase {
  const char *what;
  Bytes image;
  std::optional<FwVersion> want;  // nullopt: F07
};

Bytes Blank(std::size_t size) { return Bytes(size, 0xFF); }

std::vector<ImageCase> ImageCases() {
  std::vector<ImageCase> cases;
  auto add = [&](const char *what, Bytes image, std::optional<FwVersion> want) {
    cases.push_back({what, std::move(image), want});
  };
  {
    Bytes b = Blank(4096);
    Directory(b, 0x100, "RBEP");
    Manifest(b, 0x140, {1, 1, 1, 1});
    Directory(b, 0x400, "FTPR");
    Manifest(b, 0x480, {12, 0, 64, 1551});
    Directory(b, 0x800, "FTPR");
    Manifest(b, 0x880, {99, 9, 9, 9});
    add("other partitions before FTPR, a second FTPR later", b, FwVersion{12, 0, 64, 1551});
  }
  {
    Bytes b = Blank(4096);
    Manifest(b, 0x80, {12, 0, 64, 1551});
    Directory(b, 0x400, "FTPR");
    add("tag before the FTPR header only", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Directory(b, 0x600, "NFTP", 3);
    Manifest(b, 0x700, {12, 0, 64, 1551});
    add("tag past the partition end", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Directory(b, 0x600, "XXXX", 0x01000003);  // upper count bytes not zero
    Manifest(b, 0x700, {12, 0, 64, 1551});
    add("$CPD with non-zero count bytes does not end the partition", b, FwVersion{12, 0, 64, 1551});
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Manifest(b, 4096 - 16, {12, 0, 64, 1551});
    add("no further header: the partition runs to the image's end", b, FwVersion{12, 0, 64, 1551});
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Manifest(b, 4096 - 15, {12, 0, 64, 1551});
    add("version bytes would run past the image's end", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Directory(b, 0x600, "NFTP", 3);
    Manifest(b, 0x600 - 4, {12, 0, 70, 1000});  // tag ends at the last byte, fields lie beyond
    add("tag in the partition's last bytes, fields behind its end", b, FwVersion{12, 0, 70, 1000});
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Directory(b, 0x600, "NFTP", 3);
    Put(b, 0x600 - 3, "$MN");  // tag cut by the next header
    add("tag cut by the next header", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Put(b, 0x400 + 16, "$MN2");
    Put(b, 0x400 + 24, std::string("\x0C\x00\x00\x00\x40\x00\x0F\x06", 8));
    add("the bytes of the example version", b, FwVersion{12, 0, 64, 1551});
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x400, "FTPR");
    Manifest(b, 0x480, {0, 3, 2, 1});
    add("Major 0 is a success", b, FwVersion{0, 3, 2, 1});
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 4096 - 15, "FTPR");
    add("FTPR header within the last 15 bytes", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 4096 - 16, "FTPR");
    add("FTPR header in the last 16 bytes, no room for a manifest", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Directory(b, 0x100, "RBEP");
    Directory(b, 0x200, "ftpr");
    Manifest(b, 0x280, {1, 2, 3, 4});
    add("only other names (the name is case-sensitive)", b, std::nullopt);
  }
  add("no $CPD at all", Blank(4096), std::nullopt);
  add("empty image", Bytes{}, std::nullopt);
  {
    Bytes b = Blank(20);
    Directory(b, 0, "FTPR");
    add("tiny image", b, std::nullopt);
  }
  {
    Bytes b = Blank(4096);
    Put(b, 4093, "$CP");
    add("a marker cut by the image's end", b, std::nullopt);
  }
  return cases;
}

TEST(FwverImageVersion, FindsTheManifestOfTheFtprPartition) {
  for (ImageCase &c : ImageCases()) {
    SCOPED_TRACE(c.what);
    sim::Board board;
    // An exactly sized heap copy, so that a read past the end is caught by the
    // address sanitizer.
    auto copy = std::make_unique<uint8_t[]>(c.image.size() + (c.image.empty() ? 1 : 0));
    if (!c.image.empty()) std::memcpy(copy.get(), c.image.data(), c.image.size());
    FwVersion v{7, 7, 7, 7};
    PlatStatus status =
        FindManifestVersion(copy.get(), static_cast<uint32_t>(c.image.size()), &v);
    if (c.want) {
      EXPECT_EQ(status, PLAT_SUCCESS);
      EXPECT_EQ(Printed(board), "");
      EXPECT_EQ(v.Major, c.want->Major);
      EXPECT_EQ(v.Minor, c.want->Minor);
      EXPECT_EQ(v.HotFix, c.want->HotFix);
      EXPECT_EQ(v.Build, c.want->Build);
    } else {
      EXPECT_EQ(status, PLAT_NOT_FOUND);
      EXPECT_EQ(Printed(board), kF07);
      EXPECT_EQ(v.Major, 7);  // untouched
      EXPECT_EQ(v.Build, 7);
    }
  }
}

TEST(FwverImageVersion, PartitionBounds) {
  Bytes b = Blank(8192);
  Directory(b, 0x100, "FTPR");
  Directory(b, 0x100 + 16, "XXXX", 0);  // right behind the FTPR header
  uint32_t start = 0, end = 0;
  ASSERT_TRUE(FindFtprPartition(b.data(), 8192, &start, &end));
  EXPECT_EQ(start, 0x100u);
  EXPECT_EQ(end, 0x100u + 15);

  b = Blank(8192);
  Directory(b, 0x100, "FTPR");
  Directory(b, 0x1000, "XXXX", 0x00FFFFFF);  // byte 7 zero, 5 and 6 not
  Directory(b, 0x1800, "XXXX", 0x000000FF);
  ASSERT_TRUE(FindFtprPartition(b.data(), 8192, &start, &end));
  EXPECT_EQ(end, 0x17FFu);

  b = Blank(8192);
  Directory(b, 0x100, "FTPR");
  Put(b, 8192 - 7, "$CPD");  // count bytes would lie past the end: no end marker
  ASSERT_TRUE(FindFtprPartition(b.data(), 8192, &start, &end));
  EXPECT_EQ(end, 8191u);

  start = end = 0;
  b = Blank(8192);
  Directory(b, 8192 - 15, "FTPR");
  EXPECT_FALSE(FindFtprPartition(b.data(), 8192, &start, &end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 0u);
}

TEST(FwverImageVersion, BlockScanAgreesWithByteByByteSearch) {
  // Markers planted at random offsets, many of them across the scan's block
  // boundaries, in filler that is rich in the markers' first and last bytes.
  std::mt19937 rng(4242);
  const char *alphabet = "$CPDMN2FTR\0\xFF";
  for (int round = 0; round < 3000; ++round) {
    std::size_t size = 16 + rng() % 700;
    Bytes b(size);
    for (auto &x : b) x = static_cast<uint8_t>(alphabet[rng() % 12]);
    int plants = rng() % 6;
    for (int i = 0; i < plants; ++i) {
      std::size_t at = rng() % size;
      switch (rng() % 4) {
        case 0: Directory(b, at, "FTPR", rng() % 2 ? 0 : 0x01000000); break;
        case 1: Directory(b, at, "XXXX", rng() % 2 ? 0 : 0x00010000); break;
        case 2: Manifest(b, at, {uint16_t(rng()), 1, 2, 3}); break;
        default: Put(b, at, "$MN2"); break;
      }
    }
    auto copy = std::make_unique<uint8_t[]>(size);
    std::memcpy(copy.get(), b.data(), size);
    sim::Board board;
    FwVersion v{7, 7, 7, 7};
    PlatStatus status = FindManifestVersion(copy.get(), static_cast<uint32_t>(size), &v);
    std::optional<FwVersion> want = fwimage::ReferenceVersion(b);
    ASSERT_EQ(status == PLAT_SUCCESS, want.has_value()) << "round " << round;
    if (want) {
      ASSERT_EQ(v.Major, want->Major) << "round " << round;
      ASSERT_EQ(v.Build, want->Build) << "round " << round;
    }
  }
}

// ---- Loading the image file ---------------------------------------------------------

TEST(FwverImageVersion, ReadsTheImageFileAndGivesEverythingBack) {
  Bytes image = Blank(100000);
  Directory(image, 50000, "FTPR");
  Manifest(image, 50100, {12, 0, 64, 1551});

  struct Case {
    const char *what;
    std::function<void(sim::Board &)> setup;
    PlatStatus status;
    std::string printed;
  };
  const Case cases[] = {
      {"found", [](sim::Board &) {}, PLAT_SUCCESS, ""},
      {"missing file", [](sim::Board &b) { b.RemoveFile(u"Q420TM07.BIN"); }, PLAT_NOT_FOUND,
       "Fail\n\nError F04: Open File failed!\n"},
      {"no buffer", [](sim::Board &b) { b.memory().SetPoolLimit(1000); }, 9,
       "Fail\n\nError F05: Allocate a memory buffer error!\n"},
      {"read fails",
       [](sim::Board &b) { b.shell().InjectReadFailure(u"FS0:\\UPD\\Q420TM07.BIN", PLAT_DEVICE_ERROR); },
       PLAT_DEVICE_ERROR, "Fail\n\nError F06: Read File failed!\n"},
      {"no manifest",
       [](sim::Board &b) { b.PutFile(u"Q420TM07.BIN", Bytes(5000, 0)); }, PLAT_NOT_FOUND, kF07},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::Board board;
    board.SetCurDir(u"FS0:\\UPD");
    board.PutFile(u"Q420TM07.BIN", image);
    c.setup(board);
    FwVersion v{0, 0, 0, 0};
    EXPECT_EQ(ReadImageFwVersion(u"Q420TM07.BIN", &v), c.status);
    EXPECT_EQ(Printed(board), c.printed);
    if (c.status == PLAT_SUCCESS) {
      EXPECT_EQ(v.Major, 12);
      EXPECT_EQ(v.Build, 1551);
    } else {
      EXPECT_EQ(v.Major, 0);
    }
    EXPECT_EQ(board.OpenFiles(), 0u);
    EXPECT_EQ(board.LiveAllocations(), 0u);
  }
}

}  // namespace
