// Sending to and receiving from a connected client under the bus's flow control.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "navo/heci/connect.h"
#include "navo/heci/heci_client.h"
#include "navo/heci/transfer.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_me.h"

namespace {

using sim::CreditOrder;
using sim::HeciMessage;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<uint8_t> Bytes(const void *p, std::size_t n) {
  auto b = static_cast<const uint8_t *>(p);
  return {b, b + n};
}

class HeciTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    board.me().Install(&me);
    me.on_client_message = [this](const HeciMessage &) { return next_reply; };
    ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
    me.sent.clear();
    me.reads.clear();
  }
  void TearDown() override {
    EXPECT_THAT(me.faults, IsEmpty());
    EXPECT_EQ(board.LiveAllocations(), 0u);
  }
  // Sends a one-word request so that the ME answers with next_reply.
  void Ask() {
    const uint32_t request = 0x01020304;
    ASSERT_EQ(ClientSend(&client, &request, 4), 0u);
    me.sent.clear();
  }

  sim::Board board;
  sim::SimMe me;
  HeciClient client{};
  std::optional<std::vector<uint8_t>> next_reply;
};

TEST_F(HeciTransferTest, SendGrantsACreditThenSendsFromHostAddressOne) {
  const uint32_t message[3] = {0x44332211, 0x88776655, 0xCCBBAA99};
  ASSERT_EQ(ClientSend(&client, message, 10), 0u);
  EXPECT_THAT(me.sent,
              ElementsAre(sim::HostCredit(7),
                          HeciMessage{Bytes(message, 10), 1, 7, 0, PLAT_SUCCESS}));
}

TEST_F(HeciTransferTest, SendChecksItsArgumentsBeforeTouchingTheBus) {
  const uint32_t message[2] = {};
  client.MaxMessageLength = 8;
  EXPECT_EQ(ClientSend(&client, message, 9), 35u);
  EXPECT_EQ(ClientSend(&client, message, 0), 3u);
  EXPECT_EQ(ClientSend(&client, nullptr, 4), 3u);
  EXPECT_EQ(ClientSend(nullptr, message, 4), 3u);
  EXPECT_THAT(me.sent, IsEmpty());
  EXPECT_EQ(ClientSend(&client, message, 8), 0u) << "exactly MaxMessageLength is allowed";
  me.outgoing.clear();
}

TEST_F(HeciTransferTest, SendFailures) {
  const uint32_t message = 0;
  me.fail_send[0] = PLAT_DEVICE_ERROR;
  EXPECT_EQ(ClientSend(&client, &message, 4), 32u);
  EXPECT_EQ(me.sent.size(), 1u) << "no message after a failed credit";

  me.sent.clear();
  me.fail_send = {{1, PLAT_DEVICE_ERROR}};
  EXPECT_EQ(ClientSend(&client, &message, 4), 23u);
  EXPECT_EQ(me.sent.size(), 2u);
}

// Where the ME's credit stands relative to its reply, and what the caller gets.
TEST_F(HeciTransferTest, ReceiveHandlesTheCreditBeforeOrAfterTheReply) {
  struct Case {
    const char *what;
    CreditOrder order;
    std::vector<uint8_t> reply;
    FwuStatus expected;
    std::vector<uint32_t> rooms;  // of the reads made
  };
  const std::vector<uint8_t> reply = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  const Case cases[] = {
      {"credit after the reply", CreditOrder::kAfterReply, reply, 0, {64, 8}},
      {"credit before the reply", CreditOrder::kBeforeReply, reply, 0, {64, 64}},
      {"no credit after the reply", CreditOrder::kNone, reply, 32, {64, 8}},
      // Exactly 8 bytes opening with 0x08 look like a credit: the next
      // message (the ME's real credit here) is taken as the reply.
      {"reply that looks like a credit", CreditOrder::kAfterReply, {8, 1, 2, 3, 4, 5, 6, 7}, 0, {64, 64}},
      {"9 bytes opening with 0x08", CreditOrder::kAfterReply, {8, 1, 2, 3, 4, 5, 6, 7, 8}, 0, {64, 8}},
      {"8 bytes opening with 0x09", CreditOrder::kAfterReply, {9, 1, 2, 3, 4, 5, 6, 7}, 0, {64, 8}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    me.credit_order = c.order;
    next_reply = c.reply;
    Ask();
    me.reads.clear();

    uint32_t buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t length = sizeof buffer;
    EXPECT_EQ(ClientReceive(&client, buffer, &length), c.expected);

    std::vector<uint32_t> rooms;
    for (const auto &r : me.reads) rooms.push_back(r.room);
    EXPECT_EQ(rooms, c.rooms);
    EXPECT_TRUE(me.outgoing.empty());
    if (std::string(c.what) == "reply that looks like a credit") {
      EXPECT_EQ(length, 8u);
      EXPECT_EQ(Bytes(buffer, 8), std::vector<uint8_t>({8, 7, 1, 0, 0, 0, 0, 0}));
    } else {
      EXPECT_EQ(length, c.reply.size());
      EXPECT_EQ(Bytes(buffer, length), c.reply);
    }
    me.sent.clear();
  }
}

TEST_F(HeciTransferTest, AfterTheCreditTheBufferIsClearedBeforeTheReplyLands) {
  me.credit_order = CreditOrder::kBeforeReply;
  next_reply = std::vector<uint8_t>{0x55, 0x66, 0x77};
  Ask();
  uint32_t buffer[4];
  std::memset(buffer, 0xEE, sizeof buffer);
  uint32_t length = sizeof buffer;
  ASSERT_EQ(ClientReceive(&client, buffer, &length), 0u);
  EXPECT_EQ(length, 3u);
  // Nothing of the credit, nor of the old contents, is left behind the reply.
  EXPECT_EQ(Bytes(buffer, 16), std::vector<uint8_t>({0x55, 0x66, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(HeciTransferTest, ReceiveLengthIsLoweredToTheClientsLimitAlsoWhenTheReadFails) {
  client.MaxMessageLength = 24;
  uint32_t buffer[64] = {};
  uint32_t length = sizeof buffer;
  me.fail_read[0] = PLAT_DEVICE_ERROR;
  EXPECT_EQ(ClientReceive(&client, buffer, &length), 23u);
  EXPECT_EQ(length, 24u);
  ASSERT_EQ(me.reads.size(), 1u);
  EXPECT_EQ(me.reads[0].room, 24u);

  // And on success the caller sees the reply's own length.
  me.fail_read.clear();
  next_reply = std::vector<uint8_t>(20, 0x5A);
  Ask();
  length = sizeof buffer;
  EXPECT_EQ(ClientReceive(&client, buffer, &length), 0u);
  EXPECT_EQ(length, 20u);
}

TEST_F(HeciTransferTest, ALateReplyGetsFortySecondsAndOneMoreRead) {
  struct Case {
    int late_reads;
    FwuStatus expected;
    std::size_t reads;
  };
  for (const Case &c : {Case{0, 0, 2}, Case{1, 0, 3}, Case{2, 23, 3}}) {
    SCOPED_TRACE(testing::Message() << c.late_reads << " reads before the reply");
    board.ports().ClearStalls();
    me.credit_order = CreditOrder::kBeforeReply;
    me.reply_late_reads = c.late_reads;
    next_reply = std::vector<uint8_t>{0xC0, 0xDE};
    Ask();
    me.reads.clear();

    uint32_t buffer[8] = {};
    uint32_t length = sizeof buffer;
    EXPECT_EQ(ClientReceive(&client, buffer, &length), c.expected);
    EXPECT_EQ(me.reads.size(), c.reads);
    if (c.late_reads == 0) {
      EXPECT_THAT(board.ports().Stalls(), IsEmpty());
    } else {
      EXPECT_THAT(board.ports().Stalls(), ElementsAre(40000000u));
    }
    if (c.expected == 0) {
      EXPECT_EQ(length, 2u);
    }
    me.outgoing.clear();
  }
}

TEST_F(HeciTransferTest, OnlyATimeoutAfterTheCreditEarnsTheWait) {
  me.credit_order = CreditOrder::kBeforeReply;
  next_reply = std::vector<uint8_t>{1};
  Ask();
  me.reads.clear();
  me.fail_read[1] = PLAT_DEVICE_ERROR;
  uint32_t buffer[2] = {};
  uint32_t length = sizeof buffer;
  EXPECT_EQ(ClientReceive(&client, buffer, &length), 23u);
  EXPECT_THAT(board.ports().Stalls(), IsEmpty());
  EXPECT_EQ(me.reads.size(), 2u);
  me.outgoing.clear();
}

TEST_F(HeciTransferTest, ALengthBeyondTheRoomGivenIsNeverPassedOn) {
  next_reply = std::vector<uint8_t>(12, 0x42);
  Ask();
  me.overreport = 100;
  uint32_t buffer[4] = {};
  uint32_t length = sizeof buffer;
  EXPECT_EQ(ClientReceive(&client, buffer, &length), 0u);
  EXPECT_EQ(length, sizeof buffer);
}

TEST_F(HeciTransferTest, ReceiveRefusesMissingArguments) {
  uint32_t buffer[2] = {};
  uint32_t length = 0;
  EXPECT_EQ(ClientReceive(&client, buffer, &length), 3u);
  length = 8;
  EXPECT_EQ(ClientReceive(&client, nullptr, &length), 3u);
  EXPECT_EQ(ClientReceive(&client, buffer, nullptr), 3u);
  EXPECT_EQ(ClientReceive(nullptr, buffer, &length), 3u);
  EXPECT_THAT(me.reads, IsEmpty());
}

}  // namespace
