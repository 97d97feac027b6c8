// A simulated ME behind the HECI protocol, for host tests. It answers the bus
// messages (enumeration, client properties, connect, disconnect, flow control)
// and the MKHI image-version request, records every message the host puts on
// the bus and every read, and notes protocol misuse in `faults`.
//
//   sim::Board board;
//   sim::SimMe me;                       // MKHI client at address 7
//   board.me().Install(&me);
//
// Messages from the ME wait in `outgoing`; a read with nothing there (or with
// the head still held back) returns PLAT_TIMEOUT, as a blocking read does when
// the ME stays silent. Reads fill whole 32-bit words, as the hardware does.
#ifndef TESTS_SIM_SIM_ME_H_
#define TESTS_SIM_SIM_ME_H_

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/sim/sim_board.h"

namespace sim {

// The MKHI client's protocol GUID {8E6A6715-9ABC-4043-88EF-9E39C6F63E0F}.
inline constexpr PlatGuid kMkhiGuid = {
    0x8E6A6715, 0x9ABC, 0x4043, {0x88, 0xEF, 0x9E, 0x39, 0xC6, 0xF6, 0x3E, 0x0F}};

std::array<uint8_t, 16> GuidBytes(const PlatGuid &guid);

// A firmware client as the ME lists it.
struct MeClient {
  PlatGuid guid{};
  // The address whose properties request describes this client.
  uint8_t address = 0;
  uint8_t protocol_version = 1;
  uint8_t max_connections = 1;
  // Non-zero: a fixed-address client, reached at this address without connect.
  uint8_t fixed_address = 0;
  uint8_t single_receive_buffer = 0;
  uint32_t max_message_length = 512;
  // Status byte of its properties response (0 = valid).
  uint8_t properties_status = 0;
  // Status byte of its connect response (0 and 2 connect).
  uint8_t connect_status = 0;
};

MeClient MkhiClient(uint8_t address);

// One SendMsg call, exactly as the host made it.
struct HeciMessage {
  std::vector<uint8_t> bytes;  // Length bytes from Message
  uint8_t host_address;
  uint8_t me_address;
  uint32_t device;
  PlatStatus status;  // what SendMsg returned
  bool operator==(const HeciMessage &) const = default;
};

// One ReadMsg call.
struct HeciRead {
  uint32_t room;      // *Length on entry
  uint32_t received;  // *Length on return
  PlatStatus status;
  uint32_t device;
  uint32_t blocking;
};

// Where the ME puts its flow-control credit relative to a reply.
enum class CreditOrder { kAfterReply, kBeforeReply, kNone };

class SimMe : public HeciDevice {
 public:
  // With the MKHI client at address 7 and two other clients around it.
  SimMe();
  // An ME with exactly these clients.
  explicit SimMe(std::vector<MeClient> clients);
  ~SimMe() override;

  // ---- the bus ----
  std::vector<MeClient> clients;

  // Enumeration: this many requests go unanswered; the response's first byte.
  int enumeration_drops = 0;
  uint8_t enumeration_code = 0x84;
  uint8_t connect_code = 0x86;
  // The credit the ME gives after a successful connect.
  bool credit_after_connect = true;
  uint8_t disconnect_code = 0x87;
  uint8_t disconnect_status = 0;
  PlatStatus reset_status = PLAT_SUCCESS;

  // ---- client replies ----
  CreditOrder credit_order = CreditOrder::kAfterReply;
  // Reads that time out before a client's reply is there.
  int reply_late_reads = 0;
  // Replaces the built-in answers to client messages: return the reply's bytes,
  // or nothing for no reply.
  std::function<std::optional<std::vector<uint8_t>>(const HeciMessage &)> on_client_message;

  // ---- the MKHI image-version reply ----
  std::array<uint16_t, 4> version{12, 0, 64, 1551};
  uint8_t version_result = 0;
  uint32_t version_record_count = 1;  // the count field
  // Records actually sent (default: the count, at most 4).
  std::optional<uint32_t> version_records_sent;
  // Cuts the reply to this many bytes.
  std::optional<uint32_t> version_reply_length;
  // A faulty protocol: reads report this many bytes more than they delivered.
  uint32_t overreport = 0;
  std::vector<uint8_t> VersionReply() const;

  // ---- fault injection, by 0-based call number ----
  std::map<std::size_t, PlatStatus> fail_send;
  std::map<std::size_t, PlatStatus> fail_read;

  // ---- what happened ----
  std::vector<HeciMessage> sent;
  std::vector<HeciRead> reads;
  int resets = 0;
  std::vector<std::string> faults;
  std::map<uint8_t, bool> connected;  // by client address

  struct Outgoing {
    std::vector<uint8_t> bytes;
    int held_reads = 0;  // reads that time out before this message is there
  };
  std::deque<Outgoing> outgoing;
  void Queue(std::vector<uint8_t> bytes, int held_reads = 0);

  // Bus messages sent (host and ME address 0), and messages to clients.
  std::vector<HeciMessage> BusMessages() const;
  std::vector<HeciMessage> ClientMessages() const;
  // The number of sends whose first byte is `code` on the bus.
  int CountBus(uint8_t code) const;

  // HeciDevice
  PlatStatus ReadMsg(uint32_t device, uint32_t blocking, uint32_t *buffer, uint32_t *length) override;
  PlatStatus SendMsg(uint32_t device, const uint32_t *message, uint32_t length, uint8_t host_address,
                     uint8_t me_address) override;
  PlatStatus Reset(uint32_t device) override;

 private:
  void OnBusMessage(const HeciMessage &m);
  void OnClientMessage(const HeciMessage &m);
  const MeClient *ClientAt(uint8_t address) const;
  const MeClient *FixedClientAt(uint8_t address) const;
  void CheckPoolRoom(const void *buffer, uint64_t bytes);

  std::map<uint8_t, int> credits_;  // host credits per client address
};

// Text of a message for failure output, e.g. "07 05 01 00 (host 0, me 0)".
std::string Describe(const HeciMessage &m);
// HBM requests and the flow-control message as the host should send them.
HeciMessage BusRequest(uint8_t code, uint8_t address, uint8_t host_address);
HeciMessage HostCredit(uint8_t me_address);

}  // namespace sim

#endif  // TESTS_SIM_SIM_ME_H_
