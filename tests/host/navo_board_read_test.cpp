// navo-board's judgement of the ME's answer over a descriptor that stands in
// for a connected /dev/mei0 (a socketpair; the test plays the ME's side): a
// reply that comes late within the wait, and the cause a silent ME leaves.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "navo/host/navo-board/board_read.h"

namespace {

std::vector<uint8_t> Reply(uint8_t result, uint16_t major, uint16_t minor, uint16_t hotfix, uint16_t build) {
  std::vector<uint8_t> r(8 + 88, 0);
  r[0] = 0xFF;
  r[1] = 0x9C;
  r[3] = result;
  r[4] = 1;
  const uint16_t v[4] = {major, minor, hotfix, build};
  std::memcpy(&r[8 + 12], v, sizeof v);
  return r;
}

struct AnswerCase {
  const char *what;
  std::vector<uint8_t> reply;  // empty: the ME stays silent
  int delay_ms;                // after the request, within the wait of 2 s
  std::optional<FwVersion> want;
  const char *cause;
};

TEST(NavoBoardRead, AnswersOfTheMe) {
  const AnswerCase cases[] = {
      {"a late version", Reply(0, 12, 0, 64, 1551), 300, FwVersion{12, 0, 64, 1551}, ""},
      {"silent", {}, 0, std::nullopt, "the ME did not answer within 2 seconds"},
  };
  for (const AnswerCase &c : cases) {
    SCOPED_TRACE(c.what);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    MeiConnection mei(fds[0], 512);
    std::thread me([&] {
      uint8_t request[16];
      if (read(fds[1], request, sizeof request) != 8 || c.reply.empty()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.delay_ms));
      static_cast<void>(write(fds[1], c.reply.data(), c.reply.size()));
    });
    BoardFailure failure;
    const std::optional<FwVersion> got = AskBoardVersion(&mei, 2000, &failure);
    me.join();
    close(fds[1]);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << failure.cause;
    if (got) {
      EXPECT_EQ(std::memcmp(&*got, &*c.want, sizeof *got), 0);
    }
    EXPECT_EQ(failure.cause, c.cause);
    EXPECT_FALSE(failure.fwu.has_value());
  }
}

}  // namespace
