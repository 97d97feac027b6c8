// The FTPR image-version query over the MKHI client, client selection by kind
// and the result-code tables.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "navo/heci/client_kinds.h"
#include "navo/heci/connect.h"
#include "navo/heci/heci_client.h"
#include "navo/heci/status_map.h"
#include "navo/heci/transact.h"
#include "navo/heci/version_query.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_me.h"

namespace {

using sim::BusRequest;
using sim::HeciMessage;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// Client GUIDs by table entry, as the ME lists them.
constexpr PlatGuid kEntry1 = {0x309DCDE8, 0xCCB1, 0x4062, {0x8F, 0x78, 0x60, 0x01, 0x15, 0xA3, 0x43, 0x27}};
constexpr PlatGuid kEntry3 = {0x05B79A6F, 0x4628, 0x4D7F, {0x89, 0x9D, 0xA9, 0x15, 0x14, 0xCB, 0x32, 0xAB}};
constexpr PlatGuid kEntry6 = {0xDD17041C, 0x09EA, 0x4B17, {0xA2, 0x71, 0x5B, 0x98, 0x98, 0x67, 0xEC, 0x65}};
constexpr PlatGuid kEntry10 = {0x082EE5A7, 0x7C25, 0x470A, {0x96, 0x43, 0x0C, 0x06, 0xF0, 0x46, 0x6E, 0xA1}};
constexpr PlatGuid kEntry18 = {0xAFD7C08E, 0xAE0D, 0x4DCF, {0x9D, 0x88, 0xB0, 0xE6, 0x94, 0x15, 0x58, 0xD6}};

sim::MeClient ClientWith(const PlatGuid &guid, uint8_t address) {
  sim::MeClient c;
  c.guid = guid;
  c.address = address;
  return c;
}

std::vector<std::string> Described(const std::vector<HeciMessage> &messages) {
  std::vector<std::string> out;
  for (const auto &m : messages) out.push_back(sim::Describe(m));
  return out;
}

// Everything the host should put on the bus for one query to the MKHI client
// at address 7 (the last message is the disconnect).
std::vector<HeciMessage> QueryTraffic() {
  std::vector<HeciMessage> m{BusRequest(0x04, 0, 0)};
  for (uint8_t a = 0; a <= 7; ++a) m.push_back(BusRequest(0x05, a, 0));
  m.push_back(BusRequest(0x06, 7, 1));
  m.push_back(sim::HostCredit(7));
  // Header 0x00001CFF, then "FTPR".
  m.push_back({{0xFF, 0x1C, 0x00, 0x00, 'F', 'T', 'P', 'R'}, 1, 7, 0, PLAT_SUCCESS});
  m.push_back(BusRequest(0x07, 7, 1));
  return m;
}

bool SameGuid(const PlatGuid &a, const PlatGuid &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class HeciVersionTest : public ::testing::Test {
 protected:
  HeciVersionTest() { board.me().Install(&me); }
  void TearDown() override {
    EXPECT_THAT(me.faults, IsEmpty());
    EXPECT_EQ(board.LiveAllocations(), 0u);
    EXPECT_EQ(board.console().screen().Text(), "") << "the HECI layer prints nothing";
  }

  sim::Board board;
  sim::SimMe me;
};

TEST_F(HeciVersionTest, GoodReplyGivesTheFtprVersion) {
  FwVersion version{};
  ASSERT_EQ(ReadHeciFwVersion(&version), 0u);
  EXPECT_EQ(version.Major, 12);
  EXPECT_EQ(version.Minor, 0);
  EXPECT_EQ(version.HotFix, 64);
  EXPECT_EQ(version.Build, 1551);
  EXPECT_THAT(Described(me.sent), ElementsAreArray(Described(QueryTraffic())));
  // The reply is read with room for the client's whole message length.
  EXPECT_EQ(me.reads[11].room, 512u);
  EXPECT_FALSE(me.connected[7]);
}

TEST_F(HeciVersionTest, EveryVersionFieldComesFromItsOwnBytes) {
  me.version = {0x1234, 0xFEDC, 0x0102, 0xA0B0};
  uint16_t major = 0, minor = 0, hotfix = 0, build = 0;
  ASSERT_EQ(GetPartitionFwVersion(kPartitionFtpr, &major, &minor, &hotfix, &build), 0u);
  EXPECT_EQ(major, 0x1234);
  EXPECT_EQ(minor, 0xFEDC);
  EXPECT_EQ(hotfix, 0x0102);
  EXPECT_EQ(build, 0xA0B0);
}

// Replies the query must refuse; the caller's version stays as it was, the
// connection is closed and every buffer given back.
TEST_F(HeciVersionTest, BadRepliesFailAndLeaveTheVersionAlone) {
  struct Case {
    const char *what;
    std::function<void(sim::SimMe &)> arrange;
    FwuStatus expected;
  };
  const Case cases[] = {
      {"result 0x81", [](sim::SimMe &m) { m.version_result = 0x81; }, 326},
      {"result 0x01", [](sim::SimMe &m) { m.version_result = 0x01; }, 3},
      {"result 0x80", [](sim::SimMe &m) { m.version_result = 0x80; }, 3},
      {"count 0", [](sim::SimMe &m) { m.version_record_count = 0; }, 3},
      {"count 2", [](sim::SimMe &m) { m.version_record_count = 2; }, 3},
      {"count 0xFFFFFFFF", [](sim::SimMe &m) {
         m.version_record_count = 0xFFFFFFFF;
         m.version_records_sent = 1;
       }, 3},
      // Too short for what is read from it: nothing beyond the bytes received.
      {"3 bytes", [](sim::SimMe &m) { m.version_reply_length = 3; }, 3},
      {"header only", [](sim::SimMe &m) { m.version_reply_length = 4; }, 3},
      {"7 bytes", [](sim::SimMe &m) { m.version_reply_length = 7; }, 3},
      {"no record", [](sim::SimMe &m) { m.version_records_sent = 0; }, 3},
      {"record cut by a byte", [](sim::SimMe &m) { m.version_reply_length = 95; }, 3},
      {"client limit below a record", [](sim::SimMe &m) {
         m.clients[1].max_message_length = 50;
         m.version_reply_length = 50;
       }, 3},
      {"client limit at the request's length", [](sim::SimMe &m) {
         m.clients[1].max_message_length = 8;
         m.version_reply_length = 8;
       }, 3},
      {"no reply", [](sim::SimMe &m) { m.on_client_message = [](const HeciMessage &) {
         return std::optional<std::vector<uint8_t>>(); }; }, 23},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimMe fresh;
    board.me().Install(&fresh);
    c.arrange(fresh);
    FwVersion version{9, 8, 7, 6};

    EXPECT_EQ(ReadHeciFwVersion(&version), c.expected);

    EXPECT_EQ(version.Major, 9);
    EXPECT_EQ(version.Minor, 8);
    EXPECT_EQ(version.HotFix, 7);
    EXPECT_EQ(version.Build, 6);
    EXPECT_THAT(Described(fresh.sent), ElementsAreArray(Described(QueryTraffic())));
    EXPECT_EQ(board.LiveAllocations(), 0u);
    EXPECT_THAT(fresh.faults, IsEmpty());
  }
  board.me().Install(&me);
}

TEST_F(HeciVersionTest, ReplyOfAnOddLengthIsReadIntoAWordRoundedBuffer) {
  // 97 bytes: the last word of the reply buffer is only partly the message's.
  me.clients[1].max_message_length = 97;
  me.on_client_message = [this](const HeciMessage &) {
    auto r = me.VersionReply();
    r.push_back(0x77);
    return std::optional(r);
  };
  FwVersion version{};
  EXPECT_EQ(ReadHeciFwVersion(&version), 0u);
  EXPECT_EQ(version.Build, 1551);
  EXPECT_THAT(me.faults, IsEmpty());

  // The check behind that expectation does catch a buffer cut at the byte.
  me.Queue({1, 2, 3, 4, 5});
  void *tight = PlatAllocateZeroPool(5);
  uint32_t length = 5;
  me.ReadMsg(0, 1, static_cast<uint32_t *>(tight), &length);
  PlatFreePool(tight);
  EXPECT_EQ(me.faults.size(), 1u);
  me.faults.clear();
}

TEST_F(HeciVersionTest, NoMkhiClientGives28AndStillDisconnects) {
  me.clients = {ClientWith(kEntry6, 2)};
  FwVersion version{};
  EXPECT_EQ(ReadHeciFwVersion(&version), 28u);
  EXPECT_EQ(version.Major, 0);
  EXPECT_EQ(me.CountBus(0x05), 256);
  EXPECT_EQ(me.CountBus(0x06), 0);
  ASSERT_FALSE(me.sent.empty());
  EXPECT_EQ(sim::Describe(me.sent.back()), sim::Describe(BusRequest(0x07, 0, 1)));
}

TEST_F(HeciVersionTest, WithoutTheHeciProtocolTheQueryFailsQuietly) {
  board.me().Install(nullptr);
  FwVersion version{1, 2, 3, 4};
  EXPECT_EQ(ReadHeciFwVersion(&version), 28u);
  EXPECT_EQ(version.Major, 1);
  EXPECT_THAT(me.sent, IsEmpty());
}

TEST_F(HeciVersionTest, OutOfPoolMemoryGives5AndStillDisconnects) {
  // First the reply buffer, then the transfer's scratch buffer.
  for (uint64_t allowed : {0u, 1u}) {
    SCOPED_TRACE(testing::Message() << allowed << " allocations allowed");
    me.sent.clear();
    board.memory().InjectAllocFailuresAfter(allowed);
    FwVersion version{};
    EXPECT_EQ(ReadHeciFwVersion(&version), 5u);
    EXPECT_EQ(version.Major, 0);
    EXPECT_EQ(board.LiveAllocations(), 0u);
    ASSERT_FALSE(me.sent.empty());
    EXPECT_EQ(sim::Describe(me.sent.back()), sim::Describe(BusRequest(0x07, 7, 1)));
  }
  board.memory().ClearAllocFailures();
  me.outgoing.clear();
}

TEST_F(HeciVersionTest, MissingOutputsAreRefused) {
  EXPECT_EQ(ReadHeciFwVersion(nullptr), 3u);
  uint16_t v = 0;
  EXPECT_EQ(GetPartitionFwVersion(kPartitionFtpr, &v, &v, &v, nullptr), 3u);
  EXPECT_EQ(GetPartitionFwVersion(kPartitionFtpr, nullptr, &v, &v, &v), 3u);
  EXPECT_THAT(me.sent, IsEmpty());

  // The query itself still closes its (never opened) connection.
  uint32_t count = 0;
  EXPECT_EQ(QueryImageVersions(nullptr, 1, &count, kPartitionFtpr), 3u);
  EXPECT_THAT(Described(me.sent), ElementsAreArray(Described({BusRequest(0x07, 0, 1)})));
}

TEST_F(HeciVersionTest, QueryDeliversUpToItsCapacity) {
  me.version_record_count = 3;
  ImageVersionRecord records[4] = {};
  uint32_t count = 0;
  ASSERT_EQ(QueryImageVersions(records, 4, &count, 0x4E524B4D), 0u);
  EXPECT_EQ(count, 3u);
  for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(records[k].Build, 1551 + k);
  EXPECT_EQ(records[3].Major, 0) << "nothing written past the records delivered";
  // The partition identifier goes out as given.
  EXPECT_EQ(me.ClientMessages().at(0).bytes,
            std::vector<uint8_t>({0xFF, 0x1C, 0x00, 0x00, 'M', 'K', 'R', 'N'}));

  me.version_record_count = 5;
  me.version_records_sent = 5;
  EXPECT_EQ(QueryImageVersions(records, 4, &count, kPartitionFtpr), 3u);
}

class HeciTransactTest : public HeciVersionTest {
 protected:
  void SetUp() override {
    me.on_client_message = [](const HeciMessage &) {
      return std::optional(std::vector<uint8_t>(20, 0x3C));
    };
    ASSERT_EQ(ConnectClient(&sim::kMkhiGuid, &client), 0u);
    me.sent.clear();
  }
  HeciClient client{};
  const uint32_t request[2] = {0x00001CFF, kPartitionFtpr};
};

TEST_F(HeciTransactTest, ReplyIsCopiedAndTheRestOfTheCallersBufferCleared) {
  uint32_t reply[8];
  std::memset(reply, 0xEE, sizeof reply);
  uint32_t length = sizeof reply;
  ASSERT_EQ(ClientTransact(&client, request, 8, reply, &length), 0u);
  EXPECT_EQ(length, 20u);
  auto bytes = reinterpret_cast<const uint8_t *>(reply);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 32),
            [] {
              std::vector<uint8_t> v(20, 0x3C);
              v.resize(32, 0);
              return v;
            }());
}

TEST_F(HeciTransactTest, RefusalsAndLimits) {
  uint32_t reply[8] = {};
  uint32_t length = 16;
  EXPECT_EQ(ClientTransact(&client, request, 8, reply, &length), 35u) << "a 20-byte reply in 16";
  EXPECT_EQ(length, 16u);

  length = sizeof reply;
  client.MaxMessageLength = 7;
  EXPECT_EQ(ClientTransact(&client, request, 8, reply, &length), 35u);
  client.MaxMessageLength = 512;
  EXPECT_EQ(ClientTransact(&client, request, 0, reply, &length), 3u);
  EXPECT_EQ(ClientTransact(&client, nullptr, 8, reply, &length), 3u);
  EXPECT_EQ(ClientTransact(&client, request, 8, nullptr, &length), 3u);
  EXPECT_EQ(ClientTransact(&client, request, 8, reply, nullptr), 3u);
  length = 0;
  EXPECT_EQ(ClientTransact(&client, request, 8, reply, &length), 3u);
  length = sizeof reply;
  client.IsConnected = 0;
  EXPECT_EQ(ClientTransact(&client, request, 8, reply, &length), 3u);
  // Only the first call reached the bus: credit and request.
  EXPECT_EQ(me.sent.size(), 2u);
  client.IsConnected = 1;
}

TEST_F(HeciTransactTest, ReplyBufferIsSizedToTheClient) {
  client.MaxMessageLength = 13;
  plat::PoolBuffer buffer;
  uint32_t size = 0;
  ASSERT_EQ(AllocReplyBuffer(&client, &buffer, &size), 0u);
  EXPECT_EQ(size, 13u);
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer.Size(), 16u);
  EXPECT_EQ(board.AllocationSize(buffer.Get()), 16u) << "whole words";
  EXPECT_EQ(std::vector<uint8_t>(buffer.Bytes(), buffer.Bytes() + 16), std::vector<uint8_t>(16, 0));
  // A second call replaces the first buffer: one stays live.
  ASSERT_EQ(AllocReplyBuffer(&client, &buffer, &size), 0u);
  EXPECT_EQ(board.LiveAllocations(), 1u);
  buffer.Reset();

  client.IsConnected = 0;
  EXPECT_EQ(AllocReplyBuffer(&client, &buffer, &size), 3u);
  EXPECT_EQ(AllocReplyBuffer(nullptr, &buffer, &size), 3u);
  client.IsConnected = 1;
  EXPECT_EQ(AllocReplyBuffer(&client, nullptr, &size), 3u);
  board.memory().SetPoolLimit(8);
  EXPECT_EQ(AllocReplyBuffer(&client, &buffer, &size), 5u);
  EXPECT_FALSE(buffer);
  EXPECT_EQ(board.LiveAllocations(), 0u);
}

TEST_F(HeciVersionTest, ClientKindsChooseTheirTableEntry) {
  struct Case {
    ClientKind kind;
    PlatGuid guid;
  };
  const Case cases[] = {{20, sim::kMkhiGuid}, {5, sim::kMkhiGuid}, {22, kEntry10}, {10, kEntry10},
                        {23, kEntry1},        {3, kEntry3},        {18, kEntry18}};
  me.clients = {ClientWith(kEntry1, 1),  ClientWith(kEntry3, 3),  sim::MkhiClient(5),
                ClientWith(kEntry10, 10), ClientWith(kEntry18, 18)};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind);
    HeciClient client{};
    ASSERT_EQ(ConnectClientByKind(c.kind, &client), 0u);
    EXPECT_TRUE(SameGuid(client.ClientGuid, c.guid));
    EXPECT_EQ(DisconnectClient(&client), 0u);
  }

  me.sent.clear();
  HeciClient client{};
  for (ClientKind invalid : {19, 24, -1, 100}) EXPECT_EQ(ConnectClientByKind(invalid, &client), 3u);
  EXPECT_EQ(ConnectClientByKind(20, nullptr), 3u);
  EXPECT_THAT(me.sent, IsEmpty());
}

TEST_F(HeciVersionTest, Kind21FallsBackToEntry6) {
  struct Case {
    const char *what;
    bool mkhi_present;
    uint8_t mkhi_protocol;
    uint8_t expected_address;
    int connects, disconnects;
  };
  const Case cases[] = {
      {"MKHI speaks protocol 1", true, 1, 5, 1, 0},
      {"MKHI speaks protocol 2", true, 2, 9, 2, 1},
      {"no MKHI client", false, 1, 9, 1, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::MeClient mkhi = sim::MkhiClient(5);
    mkhi.protocol_version = c.mkhi_protocol;
    me.clients = {ClientWith(kEntry6, 9)};
    if (c.mkhi_present) me.clients.insert(me.clients.begin(), mkhi);
    me.sent.clear();

    HeciClient client{};
    ASSERT_EQ(ConnectClientByKind(21, &client), 0u);
    EXPECT_EQ(client.MeAddress, c.expected_address);
    EXPECT_NE(client.IsConnected, 0u);
    EXPECT_EQ(me.CountBus(0x06), c.connects);
    EXPECT_EQ(me.CountBus(0x07), c.disconnects);
    if (c.disconnects != 0) {
      EXPECT_EQ(me.CountBus(0x04), 2);
    }
    DisconnectClient(&client);
  }
}

TEST(HeciStatusMap, TablesByKind) {
  struct Case {
    uint32_t code;
    ClientKind kind;
    FwuStatus expected;
  };
  const Case cases[] = {
      {0, 20, 0},         {0x81, 20, 326},     {1, 20, 3},         {0x80, 20, 3},
      {1, 10, 0},         {16, 22, 0},         {0, 22, 3},         {2500, 0, 613},
      {2501, 0, 614},     {2502, 0, 3},        {0xF0034, 7, 230},  {0xF000B, 9, 235},
      {0x6006, 7, 277},   {0x6019, 9, 278},    {1, 7, 3},          {2, 14, 544},
      {55, 14, 35},       {0x503, 14, 609},    {0, 14, 3},         {3, 21, 267},
      {165, 21, 229},     {216, 21, 192},      {4, 21, 3},         {5, 23, 332},
      {518, 23, 5},       {753, 23, 668},      {754, 23, 3},
      // Kinds without a table.
      {0, 5, 3},          {0, 19, 3},          {0, 24, 3},         {0, -1, 3},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(MapClientStatus(c.code, c.kind), c.expected) << "code " << c.code << " kind " << c.kind;
  }
}

}  // namespace
