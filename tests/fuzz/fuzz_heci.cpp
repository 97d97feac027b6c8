// The HECI client against an ME whose every answer comes from the fuzz input:
// message lengths and contents, read statuses (success, timeout, error), a
// protocol that claims more bytes than it was given room for, send and reset
// failures, client addresses, maximum message lengths, connect statuses, flow
// control and the version reply's result and record count.
//
// Input: two bytes of set-up, then one entry per read the client makes:
//   control byte: bits 0-1: 0 or 1 deliver, 2 time out, 3 fail with a device
//                 error (these two take nothing more); bit 2: claim the
//                 message's own length even when the room was smaller;
//                 bit 3: a 16-bit length follows instead of an 8-bit one
//   length, then that many message bytes (zeros when the input ends).
// When the input is used up the ME stays silent: every read times out.
// Set-up byte 0: bit 0 no HECI protocol; bit 1 the reset fails; bits 2-3 the
// scenario (0, 3: the version query; 1: a transaction with a client of a
// fuzzed kind; 2: a bare connect, receive and disconnect). Set-up byte 1: the
// number of the send that fails (255: none).
#include <cstdint>
#include <cstring>
#include <vector>

#include "navo/heci/client_kinds.h"
#include "navo/heci/connect.h"
#include "navo/heci/heci_bus.h"
#include "navo/heci/heci_client.h"
#include "navo/heci/transact.h"
#include "navo/heci/transfer.h"
#include "navo/heci/version_query.h"
#include "tests/sim/sim_board.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

class ScriptedMe : public sim::HeciDevice {
 public:
  ScriptedMe(fuzz::Input &in, uint8_t failing_send, bool reset_fails)
      : in_(in), failing_send_(failing_send), reset_fails_(reset_fails) {}

  PlatStatus ReadMsg(uint32_t, uint32_t, uint32_t *buffer, uint32_t *length) override {
    FUZZ_CHECK(buffer != nullptr && length != nullptr);
    const uint32_t room = *length;
    if (in_.Empty()) return PLAT_TIMEOUT;
    const uint8_t control = in_.Byte();
    if ((control & 3) == 2) return PLAT_TIMEOUT;
    if ((control & 3) == 3) return PLAT_DEVICE_ERROR;
    const uint32_t n = (control & 8) ? in_.Le16() : in_.Byte();
    std::vector<uint8_t> message = in_.Bytes(n);
    message.resize(n, 0);
    // The protocol moves whole 32-bit words: it may fill the caller's room up
    // to the end of its last word.
    const uint32_t fill = (room + 3) & ~3u;
    auto *out = reinterpret_cast<uint8_t *>(buffer);
    for (uint32_t i = 0; i < fill; ++i) out[i] = i < n ? message[i] : 0xA5;
    const uint32_t received = n < room ? n : room;
    delivered.emplace_back(message.begin(), message.begin() + received);
    *length = (control & 4) ? n : received;
    return PLAT_SUCCESS;
  }

  PlatStatus SendMsg(uint32_t, const uint32_t *message, uint32_t length, uint8_t,
                     uint8_t) override {
    FUZZ_CHECK(message != nullptr);
    // Every byte the client says it sends must be there to read.
    const auto *bytes = reinterpret_cast<const uint8_t *>(message);
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sends_++ == failing_send_ ? PLAT_DEVICE_ERROR : PLAT_SUCCESS;
  }

  PlatStatus Reset(uint32_t) override { return reset_fails_ ? PLAT_DEVICE_ERROR : PLAT_SUCCESS; }

  std::vector<std::vector<uint8_t>> delivered;

 private:
  fuzz::Input &in_;
  uint32_t sends_ = 0;
  uint32_t failing_send_;
  bool reset_fails_;
};

bool OneOf(FwuStatus s, std::initializer_list<FwuStatus> allowed) {
  for (FwuStatus a : allowed)
    if (s == a) return true;
  return false;
}

uint32_t Le32(const std::vector<uint8_t> &m, std::size_t at) {
  return m[at] | m[at + 1] << 8 | m[at + 2] << 16 | static_cast<uint32_t>(m[at + 3]) << 24;
}

void VersionQuery(ScriptedMe &me) {
  const FwVersion sentinel{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
  FwVersion version = sentinel;
  const FwuStatus status = ReadHeciFwVersion(&version);
  fuzz::Trace("version query: status %u, version %u.%u.%u.%u", status, version.Major,
              version.Minor, version.HotFix, version.Build);
  FUZZ_CHECK(OneOf(status, {0, 3, 5, 23, 28, 32, 35, 40, 326}));
  if (status != 0) {
    FUZZ_CHECK(fuzz::Same(version, sentinel));
    return;
  }
  // The version came from a reply the ME sent: result 0, one record, and the
  // record's bytes 12..19 (reply bytes 20..27).
  bool from_reply = false;
  for (const auto &m : me.delivered) {
    if (m.size() < 8 + 88 || m[3] != 0 || Le32(m, 4) != 1) continue;
    from_reply |= fuzz::Same(version, FwVersion{static_cast<uint16_t>(m[20] | m[21] << 8),
                                                static_cast<uint16_t>(m[22] | m[23] << 8),
                                                static_cast<uint16_t>(m[24] | m[25] << 8),
                                                static_cast<uint16_t>(m[26] | m[27] << 8)});
  }
  FUZZ_CHECK(from_reply);
}

void Transaction(fuzz::Input &in) {
  // -128 to 127: the invalid kinds on both sides of the table too.
  const ClientKind kind = static_cast<ClientKind>(in.Byte()) - 128;
  const uint32_t request_length = in.Byte();
  const uint32_t reply_room = in.Le16();
  HeciClient client{};
  const FwuStatus connected = ConnectClientByKind(kind, &client);
  fuzz::Trace("connect kind %d: status %u", kind, connected);
  FUZZ_CHECK(OneOf(connected, {0, 3, 23, 28, 32}));
  if (connected == 0) {
    FUZZ_CHECK(client.IsConnected != 0 && client.MeAddress != 0);
    std::vector<uint32_t> request((request_length + 3) / 4 + 1, 0x11223344);
    // The reply buffer holds exactly the room the caller names.
    std::vector<uint8_t> reply(reply_room);
    uint32_t reply_length = reply_room;
    auto *reply_words = reinterpret_cast<uint32_t *>(reply_room ? reply.data() : nullptr);
    const FwuStatus status =
        ClientTransact(&client, request.data(), request_length, reply_words, &reply_length);
    fuzz::Trace("transaction: status %u, reply %u bytes", status, reply_length);
    FUZZ_CHECK(OneOf(status, {0, 3, 5, 23, 32, 35, 40}));
    if (status == 0) FUZZ_CHECK(reply_length <= reply_room);
  }
  FUZZ_CHECK(OneOf(DisconnectClient(&client), {0, 29}));
}

void ConnectReceive(fuzz::Input &in) {
  const uint32_t room = in.Le16();
  HeciClient client{};
  FwuStatus status = ConnectClient(&ClientGuidTable[client_kind::kMkhiIndex], &client);
  FUZZ_CHECK(OneOf(status, {0, 23, 28, 32}));
  // A second connect on the same record closes the first.
  if (status == 0 && (room & 1)) {
    status = ConnectClient(&ClientGuidTable[client_kind::kMkhiIndex], &client);
    FUZZ_CHECK(OneOf(status, {0, 23, 28, 32}));
  }
  if (status == 0) {
    std::vector<uint32_t> buffer((room + 3) / 4);
    uint32_t length = room;
    status = ClientReceive(&client, room ? buffer.data() : nullptr, &length);
    fuzz::Trace("receive: status %u, %u bytes", status, length);
    FUZZ_CHECK(OneOf(status, {0, 3, 23, 32}));
    FUZZ_CHECK(length <= room && length <= client.MaxMessageLength);
  }
  FUZZ_CHECK(OneOf(DisconnectClient(&client), {0, 29}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::Input in(data, size);
  const uint8_t setup = in.Byte();
  const uint8_t failing_send = in.Byte();

  sim::Board board;
  // A firmware pool has limits; a client that asks for a buffer of the length
  // an ME claims must cope with being refused.
  board.memory().SetPoolLimit(1 << 20);
  NavoHeciForgetProtocol();
  ScriptedMe me(in, failing_send, (setup & 2) != 0);
  if (!(setup & 1)) board.me().Install(&me);

  switch ((setup >> 2) & 3) {
    case 1:
      Transaction(in);
      break;
    case 2:
      ConnectReceive(in);
      break;
    default:
      VersionQuery(me);
      break;
  }
  FUZZ_CHECK(board.LiveAllocations() == 0);
  NavoHeciForgetProtocol();
  return 0;
}
