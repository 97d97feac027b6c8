// navo-board's service-history record: the board's identity from a stand-in
// for /sys/class/dmi/id, and the fields a run's outcome gives the record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "navo/host/navo-board/station_record.h"

namespace {

struct DmiCase {
  const char *what;
  std::vector<std::pair<const char *, const char *>> files;  // bytes nullptr: a folder of that name
  const char *want;                                            // vendor|product|serial|uuid|bios
};

TEST(NavoBoardRecord, IdentityFromTheDmiFiles) {
  const DmiCase cases[] = {
      {"as root",
       {{"sys_vendor", "ZAN\n"}, {"product_name", "BX-700 rev B\n"}, {"product_serial", "SN 0042\n"},
        {"product_uuid", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0\n"}, {"bios_version", "R1.07\n"}},
       "ZAN|BX-700 rev B|SN 0042|0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0|R1.07"},
      // Not root: no serial; only the kernel's one line end goes, the rest is the board's.
      {"odd strings, a folder",
       {{"sys_vendor", "ZAN \n\n"}, {"product_name", "\n"}, {"product_uuid", nullptr}, {"bios_version", "R1.07"}},
       "ZAN \n||||R1.07"},
  };
  const std::filesystem::path root = testing::TempDir() + "navo_board_dmi";
  for (const DmiCase &c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root);
    ASSERT_TRUE(std::filesystem::create_directories(root));
    for (const auto &[name, bytes] : c.files) {
      const bool made = bytes == nullptr ? std::filesystem::create_directory(root / name)
                                         : static_cast<bool>(std::ofstream(root / name, std::ios::binary) << bytes);
      ASSERT_TRUE(made) << name;
    }
    const DmiIdentity got = ReadDmiIdentity(root.string());
    EXPECT_EQ(got.vendor + "|" + got.product + "|" + got.serial + "|" + got.uuid + "|" + got.bios, c.want);
  }
  EXPECT_EQ(UtcTimeText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcTimeText(1709251199), "2024-02-29T23:59:59Z");
}

struct RecordCase {
  StationReading reading;
  // board, image, image_version, size, sum32, sum16, decision, status
  std::vector<std::string_view> want;
};

// A failed try's record and the identity's way to navo-history are the station guest's.
TEST(NavoBoardRecord, FieldsOfARun) {
  using history::Event;
  const FwVersion board{12, 0, 64, 1551};
  const FwVersion newer{12, 0, 65, 1000};
  const ImageFacts facts{0x80000, 0x3FBFAB92, true, newer, {}};
  const ImageFacts huge{0x100000010ull, 0x0000ABCD, true, newer, {}};  // its size cut to 32 bits, as chksum does
  const RecordCase cases[] = {
      {{Event::Before, board, "NEWER.BIN", facts, newer, UpdateDecision::Update, 64},
       {"12.0.64.1551", "NEWER.BIN", "12.0.65.1000", "0x80000", "0x3FBFAB92", "AB92", "update", "64"}},
      {{Event::Before, {}, "BIG.BIN", huge, newer, {}, 1},
       {"", "BIG.BIN", "12.0.65.1000", "0x10", "0x0000ABCD", "ABCD", "none", "1"}},
      {{Event::After, board, nullptr, {}, board, UpdateDecision::SameVersion, 69},
       {"12.0.64.1551", "", "12.0.64.1551", "", "", "", "same", "69"}},
      {{Event::After, newer, nullptr, {}, board, UpdateDecision::Downgrade, 64},
       {"12.0.65.1000", "", "12.0.64.1551", "", "", "", "downgrade", "64"}},
  };
  const DmiIdentity identity{"ZAN", "BX-700", "SN 0042", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "R1.07"};
  for (const RecordCase &c : cases) {
    SCOPED_TRACE(c.want[6]);
    const StationRecord made(identity, "2026-12-10T14:27:16Z", c.reading);
    const history::Record &r = made.record();
    EXPECT_EQ((std::vector<std::string_view>{r.time, r.serial}),
              (std::vector<std::string_view>{"2026-12-10T14:27:16Z", "SN 0042"}));
    EXPECT_EQ((std::vector<std::string_view>{r.board, r.image, r.image_version, r.size, r.sum32, r.sum16,
                                             r.decision, r.status}),
              c.want);
  }
}

}  // namespace
