// The image-version request and reply checks that the board's client and the
// Linux tool share, on raw reply bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "navo/heci/image_version_message.h"

namespace {

std::vector<uint8_t> Reply(uint8_t result, uint32_t count, uint32_t records, uint32_t cut = 0) {
  std::vector<uint8_t> r(8 + 88 * records, 0);
  r[0] = 0xFF;
  r[1] = 0x9C;  // command 0x1C with the response flag
  r[3] = result;
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<uint8_t>(count >> (8 * i));
  for (uint32_t n = 0; n < records; ++n) {
    const uint16_t v[4] = {12, 0, static_cast<uint16_t>(64 + n), 1551};
    std::memcpy(&r[8 + 88 * n + 12], v, sizeof v);
  }
  r.resize(r.size() - cut);
  return r;
}

struct ReplyCase {
  const char *what;
  std::vector<uint8_t> reply;
  uint32_t capacity;
  FwuStatus want;
  uint32_t want_count;
};

TEST(ImageVersionReply, StatusCountAndRecords) {
  const ReplyCase cases[] = {
      {"one record", Reply(0, 1, 1), 1, 0, 1},
      {"result 0x81", Reply(0x81, 1, 1), 1, 326},
      {"a result no table holds", Reply(0x05, 1, 1), 1, 3},
      {"count 0", Reply(0, 0, 0), 1, 3},
      {"two records, room for one", Reply(0, 2, 2), 1, 3},
      {"two records, room for two", Reply(0, 2, 2), 2, 0, 2},
      {"record cut short", Reply(0, 1, 1, 10), 1, 3},
      {"header only", Reply(0, 1, 0, 4), 1, 3},
      {"shorter than the header", Reply(0x81, 1, 0, 5), 1, 3},
  };
  for (const ReplyCase &c : cases) {
    SCOPED_TRACE(c.what);
    ImageVersionRecord records[2];
    std::memset(records, 0xEE, sizeof records);
    uint32_t count = 77;
    EXPECT_EQ(ReadImageVersionReply(c.reply.data(), static_cast<uint32_t>(c.reply.size()), records, c.capacity,
                                    &count),
              c.want);
    if (c.want != 0) {
      EXPECT_EQ(count, 77u) << "a refused reply leaves the outputs alone";
      EXPECT_EQ(records[0].Major, 0xEEEE);
      continue;
    }
    ASSERT_EQ(count, c.want_count);
    for (uint32_t n = 0; n < count; ++n) {
      const FwVersion v = RecordVersion(records[n]);
      EXPECT_EQ(v.Major, 12);
      EXPECT_EQ(v.HotFix, 64 + n);
      EXPECT_EQ(v.Build, 1551);
    }
    EXPECT_EQ(records[count == 1 ? 1 : 0].Major, count == 1 ? 0xEEEE : 12) << "nothing past the count";
  }
}

TEST(ImageVersionReply, RequestBytesForFtpr) {
  const ImageVersionRequest r = MakeImageVersionRequest(kPartitionFtpr);
  const uint8_t want[] = {0xFF, 0x1C, 0x00, 0x00, 'F', 'T', 'P', 'R'};
  ASSERT_EQ(ImageVersionRequest::kLength, sizeof want);
  EXPECT_EQ(std::memcmp(r.bytes(), want, sizeof want), 0);
}

}  // namespace
