// navo-board's service-history record: the board's identity from a stand-in
// for /sys/class/dmi/id, and the fields a run's outcome gives the record.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "navo/host/navo-board/station_record.h"

namespace {

struct DmiFile {
  const char *name;
  const char *bytes;  // nullptr: a directory of that name
};

struct DmiCase {
  const char *what;
  std::vector<DmiFile> files;
  DmiIdentity want;
};

TEST(NavoBoardRecord, IdentityFromTheDmiFiles) {
  const DmiCase cases[] = {
      {"as root",
       {{"sys_vendor", "ZAN\n"}, {"product_name", "BX-700 rev B\n"}, {"product_serial", "SN 0042\n"},
        {"product_uuid", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0\n"}, {"bios_version", "R1.07\n"}},
       {"ZAN", "BX-700 rev B", "SN 0042", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "R1.07"}},
      // Only the kernel's one line end goes; blanks and a second line end are the board's.
      {"not root, odd strings",
       {{"sys_vendor", "ZAN \n\n"}, {"product_name", "\n"}, {"bios_version", "R1.07"}},
       {"ZAN \n", "", "", "", "R1.07"}},
      {"a directory where a file should be", {{"sys_vendor", "ZAN\n"}, {"product_uuid", nullptr}},
       {"ZAN", "", "", "", ""}},
  };
  const std::filesystem::path root = testing::TempDir() + "navo_board_dmi";
  for (const DmiCase &c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root);
    ASSERT_TRUE(std::filesystem::create_directories(root));
    for (const DmiFile &f : c.files) {
      const std::string path = (root / f.name).string();
      if (f.bytes == nullptr) {
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        continue;
      }
      std::FILE *file = std::fopen(path.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      ASSERT_GE(std::fputs(f.bytes, file), 0);
      ASSERT_EQ(std::fclose(file), 0);
    }
    const DmiIdentity got = ReadDmiIdentity(root.string());
    EXPECT_EQ(got.vendor, c.want.vendor);
    EXPECT_EQ(got.product, c.want.product);
    EXPECT_EQ(got.serial, c.want.serial);
    EXPECT_EQ(got.uuid, c.want.uuid);
    EXPECT_EQ(got.bios, c.want.bios);
  }
  // No DMI directory at all (a machine without SMBIOS): every field empty, no failure.
  const DmiIdentity none = ReadDmiIdentity((root / "missing").string());
  EXPECT_EQ(none.vendor + none.product + none.serial + none.uuid + none.bios, "");
}

TEST(NavoBoardRecord, UtcTime) {
  EXPECT_EQ(UtcTimeText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcTimeText(1709251199), "2024-02-29T23:59:59Z");
  EXPECT_EQ(UtcTimeText(1796912836), "2026-12-10T14:27:16Z");
}

struct RecordCase {
  const char *what;
  StationReading reading;
  // board, image, image_version, size, sum32, sum16, decision, status
  std::vector<std::string_view> want;
};

// The failed readings' records are navo_board_cli's; these need an ME or a file past 4 GiB.
TEST(NavoBoardRecord, FieldsOfARun) {
  using history::Event;
  const FwVersion board{12, 0, 64, 1551};
  const FwVersion newer{12, 0, 65, 1000};
  const ImageFacts facts{0x80000, 0x3FBFAB92, true, newer, {}};
  const ImageFacts huge{0x100000010ull, 0x0000ABCD, true, newer, {}};
  const RecordCase cases[] = {
      {"update from an image", {Event::Before, board, "NEWER.BIN", facts, newer, UpdateDecision::Update, 64},
       {"12.0.64.1551", "NEWER.BIN", "12.0.65.1000", "0x80000", "0x3FBFAB92", "AB92", "update", "64"}},
      // Its size cut to the low 32 bits, as chksum prints it.
      {"past 4 GiB, the ME silent", {Event::Before, {}, "BIG.BIN", huge, newer, {}, 1},
       {"", "BIG.BIN", "12.0.65.1000", "0x10", "0x0000ABCD", "ABCD", "none", "1"}},
      {"--target, same", {Event::After, board, nullptr, {}, board, UpdateDecision::SameVersion, 69},
       {"12.0.64.1551", "", "12.0.64.1551", "", "", "", "same", "69"}},
      {"--target, downgrade", {Event::After, newer, nullptr, {}, board, UpdateDecision::Downgrade, 64},
       {"12.0.65.1000", "", "12.0.64.1551", "", "", "", "downgrade", "64"}},
  };
  const DmiIdentity identity{"ZAN", "BX-700", "SN 0042", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "R1.07"};
  for (const RecordCase &c : cases) {
    SCOPED_TRACE(c.what);
    const StationRecord made(identity, "2026-12-10T14:27:16Z", c.reading);
    const history::Record &r = made.record();
    EXPECT_EQ(r.event, c.reading.event);
    EXPECT_EQ((std::vector<std::string_view>{r.time, r.source, r.serial, r.kind}),
              (std::vector<std::string_view>{"2026-12-10T14:27:16Z", "station", "SN 0042", "ME"}));
    EXPECT_EQ((std::vector<std::string_view>{r.board, r.image, r.image_version, r.size, r.sum32, r.sum16,
                                             r.decision, r.status}),
              c.want);
  }
}

}  // namespace
