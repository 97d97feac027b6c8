// Finding, connecting and disconnecting an ME client over the HECI bus, checked
// message by message against what the host put on the bus.
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

using sim::BusRequest;
using sim::HeciMessage;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr PlatGuid kOtherGuid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};

HeciMessage Enumerate() { return BusRequest(0x04, 0, 0); }
HeciMessage Properties(int address) { return BusRequest(0x05, static_cast<uint8_t>(address), 0); }
HeciMessage Connect(uint8_t address) { return BusRequest(0x06, address, 1); }
HeciMessage Disconnect(uint8_t address) { return BusRequest(0x07, address, 1); }

// The bus traffic of a connect that finds its client at `address`: one
// enumeration, the properties of every address up to it, the connect request.
std::vector<HeciMessage> ConnectTraffic(int address, bool with_connect = true) {
  std::vector<HeciMessage> m{Enumerate()};
  for (int a = 0; a <= address; ++a) m.push_back(Properties(a));
  if (with_connect) m.push_back(Connect(static_cast<uint8_t>(address)));
  return m;
}

std::vector<std::string> Described(const std::vector<HeciMessage> &messages) {
  std::vector<std::string> out;
  for (const auto &m : messages) out.push_back(sim::Describe(m));
  return out;
}

class HeciConnectTest : public ::testing::Test {
 protected:
  HeciConnectTest() { board.me().Install(&me); }
  void TearDown() override {
    EXPECT_THAT(me.faults, IsEmpty());
    EXPECT_EQ(board.LiveAllocations(), 0u);
    EXPECT_EQ(board.console().screen().Text(), "");
  }
  std::vector<std::string> Sent() const { return Described(me.sent); }
  std::vector<uint32_t> ReadRooms() const {
    std::vector<uint32_t> rooms;
    for (const auto &r : me.reads) rooms.push_back(r.room);
    return rooms;
  }

  sim::Board board;
  sim::SimMe me;
  HeciClient client{};
};

TEST_F(HeciConnectTest, FindsTheClientByGuidAndConnects) {
  me.clients[1].max_message_length = 0x1234;
  me.clients[1].protocol_version = 3;
  me.clients[1].max_connections = 4;
  me.clients[1].single_receive_buffer = 1;

  ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);

  EXPECT_THAT(Sent(), ElementsAreArray(Described(ConnectTraffic(7))));
  // Enumeration 36, properties 28 each, connect response 4, the ME's credit 8.
  std::vector<uint32_t> rooms{36};
  rooms.insert(rooms.end(), 8, 28);
  rooms.push_back(4);
  rooms.push_back(8);
  EXPECT_EQ(ReadRooms(), rooms);
  EXPECT_EQ(me.resets, 1);
  EXPECT_TRUE(me.outgoing.empty()) << "the credit after the connect must be read";

  EXPECT_EQ(client.MeAddress, 7);
  EXPECT_EQ(client.MaxMessageLength, 0x1234u);
  EXPECT_EQ(client.ProtocolVersion, 3);
  EXPECT_EQ(client.MaxConnections, 4);
  EXPECT_EQ(client.SingleReceiveBuffer, 1);
  EXPECT_EQ(client.IsFixedAddress, 0);
  EXPECT_NE(client.IsConnected, 0u);
  EXPECT_EQ(std::memcmp(&client.ClientGuid, &sim::kMkhiGuid, sizeof(PlatGuid)), 0);
}

TEST_F(HeciConnectTest, ConnectStatusesZeroAndTwoConnectOthersAreRefused) {
  struct Case {
    uint8_t code, status;
    FwuStatus expected;
  };
  const Case cases[] = {{0x86, 0, 0}, {0x86, 2, 0}, {0x86, 1, 23}, {0x86, 3, 23},
                        {0x86, 0xFF, 23}, {0x85, 0, 23}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << int(c.code) << " status " << int(c.status));
    me.sent.clear();
    me.reads.clear();
    me.connect_code = c.code;
    me.clients[1].connect_status = c.status;
    client = HeciClient{};

    EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), c.expected);

    EXPECT_THAT(Sent(), ElementsAreArray(Described(ConnectTraffic(7))));
    EXPECT_EQ(client.IsConnected != 0, c.expected == 0);
    EXPECT_EQ(client.MeAddress, 7) << "the address found stays after a refused connect";
    // Only an accepted connect goes on to read the ME's first credit.
    EXPECT_EQ(me.reads.back().room, c.expected == 0 ? 8u : 4u);
    me.outgoing.clear();
  }
}

TEST_F(HeciConnectTest, EnumerationIsTriedThreeTimesOnTimeouts) {
  struct Case {
    int drops;
    FwuStatus expected;
    int requests;
  };
  for (const Case &c : {Case{1, 0, 2}, Case{2, 0, 3}, Case{3, 28, 3}, Case{5, 28, 3}}) {
    SCOPED_TRACE(testing::Message() << c.drops << " unanswered enumerations");
    me.sent.clear();
    me.enumeration_drops = c.drops;
    client = HeciClient{};

    EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), c.expected);

    EXPECT_EQ(me.CountBus(0x04), c.requests);
    if (c.expected == 0) {
      std::vector<HeciMessage> expected(static_cast<std::size_t>(c.requests - 1), Enumerate());
      auto rest = ConnectTraffic(7);
      expected.insert(expected.end(), rest.begin(), rest.end());
      EXPECT_THAT(Sent(), ElementsAreArray(Described(expected)));
    } else {
      EXPECT_THAT(Sent(), ElementsAreArray(Described({Enumerate(), Enumerate(), Enumerate()})));
    }
    me.outgoing.clear();
    me.enumeration_drops = 0;
  }
}

TEST_F(HeciConnectTest, EnumerationFailuresOtherThanTimeoutEndAtOnce) {
  {
    SCOPED_TRACE("wrong response code");
    me.enumeration_code = 0x83;
    EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 28u);
    EXPECT_THAT(Sent(), ElementsAreArray(Described({Enumerate()})));
  }
  {
    SCOPED_TRACE("device error on the read");
    me.enumeration_code = 0x84;
    me.sent.clear();
    me.fail_read[me.reads.size()] = PLAT_DEVICE_ERROR;
    EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 28u);
    EXPECT_THAT(Sent(), ElementsAreArray(Described({Enumerate()})));
  }
  {
    SCOPED_TRACE("the request cannot be sent");
    me.sent.clear();
    me.fail_send[me.sent.size()] = PLAT_DEVICE_ERROR;
    EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 28u);
    EXPECT_EQ(me.sent.size(), 1u);
  }
  me.outgoing.clear();
}

TEST_F(HeciConnectTest, WalkReachesAddress255AndGivesUpAfterAll256) {
  me.clients = {sim::MkhiClient(255)};
  EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  EXPECT_THAT(Sent(), ElementsAreArray(Described(ConnectTraffic(255))));
  EXPECT_EQ(client.MeAddress, 255);

  me.sent.clear();
  client = HeciClient{};
  EXPECT_EQ(ConnectClient(&kOtherGuid, &client), 28u);
  EXPECT_THAT(Sent(), ElementsAreArray(Described(ConnectTraffic(255, false))));
  EXPECT_EQ(me.CountBus(0x05), 256);
  EXPECT_EQ(client.MeAddress, 0);
  EXPECT_EQ(client.IsConnected, 0u);
}

TEST_F(HeciConnectTest, AMatchMustHaveStatusZeroAndTheWholeGuid) {
  // Same GUID but an error status, then a GUID that differs in its last byte,
  // then the real one.
  sim::MeClient refused = sim::MkhiClient(3);
  refused.properties_status = 1;
  sim::MeClient near = sim::MkhiClient(4);
  near.guid.Data4[7] ^= 0x01;
  me.clients = {refused, near, sim::MkhiClient(6)};

  EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  EXPECT_EQ(client.MeAddress, 6);
  EXPECT_THAT(Sent(), ElementsAreArray(Described(ConnectTraffic(6))));
}

TEST_F(HeciConnectTest, FixedAddressClientIsUsedWithoutConnectOrFlowControl) {
  sim::MeClient fixed = sim::MkhiClient(3);
  fixed.fixed_address = 0x20;
  fixed.max_message_length = 64;
  me.clients = {fixed};
  me.on_client_message = [](const HeciMessage &m) -> std::optional<std::vector<uint8_t>> {
    return std::vector<uint8_t>{0xAA, m.bytes[0], 0xBB};
  };

  ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  EXPECT_THAT(Sent(), ElementsAreArray(Described(ConnectTraffic(3, false))));
  EXPECT_EQ(client.MeAddress, 0x20);
  EXPECT_EQ(client.IsFixedAddress, 1);
  EXPECT_NE(client.IsConnected, 0u);

  me.sent.clear();
  const uint32_t request = 0x44332211;
  ASSERT_EQ(ClientSend(&client, &request, 4), 0u);
  EXPECT_THAT(Sent(), ElementsAreArray(Described({{{0x11, 0x22, 0x33, 0x44}, 0, 0x20, 0, 0}})));

  uint32_t reply[4] = {};
  uint32_t length = sizeof reply;
  std::size_t reads_before = me.reads.size();
  ASSERT_EQ(ClientReceive(&client, reply, &length), 0u);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(reply[0] & 0xFFFFFF, 0xBB11AAu);
  EXPECT_EQ(me.reads.size(), reads_before + 1) << "no trailing credit for a fixed-address client";

  me.sent.clear();
  EXPECT_EQ(DisconnectClient(&client), 0u);
  EXPECT_THAT(me.sent, IsEmpty());
  EXPECT_EQ(client.IsConnected, 0u);
}

TEST_F(HeciConnectTest, ProtocolIsLocatedOnceAndALookupFailureIsRetried) {
  board.me().Install(nullptr);
  EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 28u);
  EXPECT_EQ(board.me().Locates(), 1);
  EXPECT_EQ(DisconnectClient(&client), 29u);
  EXPECT_EQ(board.me().Locates(), 2);

  board.me().Install(&me);
  ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  ASSERT_EQ(DisconnectClient(&client), 0u);
  client = HeciClient{};
  ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  EXPECT_EQ(board.me().Locates(), 3);
  EXPECT_EQ(me.resets, 2);
}

TEST_F(HeciConnectTest, FailuresOfEachStepGiveTheirStatus) {
  struct Case {
    const char *what;
    std::function<void(sim::SimMe &)> arrange;
    FwuStatus expected;
    std::size_t sends;
  };
  // Sends: 0 enumeration, 1..8 properties of 0..7, 9 connect. Reads likewise,
  // with 10 the ME's credit.
  const Case cases[] = {
      {"reset fails", [](sim::SimMe &m) { m.reset_status = PLAT_DEVICE_ERROR; }, 28, 0},
      {"properties send fails", [](sim::SimMe &m) { m.fail_send[3] = PLAT_DEVICE_ERROR; }, 28, 4},
      {"properties read fails", [](sim::SimMe &m) { m.fail_read[3] = PLAT_TIMEOUT; }, 28, 4},
      {"connect send fails", [](sim::SimMe &m) { m.fail_send[9] = PLAT_DEVICE_ERROR; }, 23, 10},
      {"connect read fails", [](sim::SimMe &m) { m.fail_read[9] = PLAT_TIMEOUT; }, 23, 10},
      {"no credit after connect", [](sim::SimMe &m) { m.credit_after_connect = false; }, 32, 10},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimMe fresh;
    board.me().Install(&fresh);
    c.arrange(fresh);
    client = HeciClient{};
    EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), c.expected);
    EXPECT_EQ(fresh.sent.size(), c.sends);
    EXPECT_EQ(client.IsConnected, 0u);
    EXPECT_THAT(fresh.faults, IsEmpty());
  }
  board.me().Install(&me);
}

TEST_F(HeciConnectTest, ReconnectClosesTheOldConnectionFirst) {
  ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  me.sent.clear();
  ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  auto expected = ConnectTraffic(7);
  expected.insert(expected.begin(), Disconnect(7));
  EXPECT_THAT(Sent(), ElementsAreArray(Described(expected)));
  EXPECT_NE(client.IsConnected, 0u);

  // A refused disconnect is not reported; the connect goes on.
  me.sent.clear();
  me.disconnect_status = 1;
  EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
  EXPECT_THAT(Sent(), ElementsAreArray(Described(expected)));
}

TEST_F(HeciConnectTest, DisconnectNeedsAConfirmation) {
  struct Case {
    const char *what;
    uint8_t code, status;
    bool send_fails;
    FwuStatus expected;
  };
  const Case cases[] = {
      {"confirmed", 0x87, 0, false, 0},
      {"refused", 0x87, 1, false, 29},
      {"wrong response", 0x86, 0, false, 29},
      {"send fails", 0x87, 0, true, 29},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    client = HeciClient{};
    me.disconnect_code = 0x87;
    me.disconnect_status = 0;
    ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
    me.sent.clear();
    me.disconnect_code = c.code;
    me.disconnect_status = c.status;
    if (c.send_fails) me.fail_send[0] = PLAT_DEVICE_ERROR;

    EXPECT_EQ(DisconnectClient(&client), c.expected);

    EXPECT_THAT(Sent(), ElementsAreArray(Described({Disconnect(7)})));
    if (!c.send_fails) {
      EXPECT_EQ(me.reads.back().room, 8u);
    }
    EXPECT_EQ(client.IsConnected != 0, c.expected != 0);
    me.fail_send.clear();
  }
}

TEST_F(HeciConnectTest, DisconnectIsSentAlsoForAClientThatNeverConnected) {
  EXPECT_EQ(DisconnectClient(&client), 0u);
  EXPECT_THAT(Sent(), ElementsAreArray(Described({Disconnect(0)})));
}

TEST_F(HeciConnectTest, MissingRecordsAreRefusedWithoutBusTraffic) {
  EXPECT_EQ(ConnectClient(&sim::kMkhiGuid, nullptr), 3u);
  EXPECT_EQ(ConnectClient(nullptr, &client), 3u);
  EXPECT_EQ(DisconnectClient(nullptr), 3u);
  EXPECT_THAT(me.sent, IsEmpty());
  EXPECT_EQ(me.resets, 0);
}

}  // namespace
