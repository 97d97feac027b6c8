// HECI bus messages (host bus messages to address 0): codes, fixed sizes and
// the byte view of the bus's 32-bit message buffers.
#ifndef NAVO_HECI_HBM_H_
#define NAVO_HECI_HBM_H_

#include <cstdint>

namespace hbm {

inline constexpr uint8_t kBusAddress = 0;
// The host side of every connection this program makes.
inline constexpr uint8_t kHostClientAddress = 1;

inline constexpr uint8_t kEnumerationRequest = 0x04;
inline constexpr uint8_t kEnumerationResponse = 0x84;
inline constexpr uint8_t kPropertiesRequest = 0x05;
inline constexpr uint8_t kConnectRequest = 0x06;
inline constexpr uint8_t kConnectResponse = 0x86;
inline constexpr uint8_t kDisconnectRequest = 0x07;
inline constexpr uint8_t kDisconnectResponse = 0x87;
inline constexpr uint8_t kFlowControl = 0x08;

// Connect statuses that count as connected (2: the ME already had this
// connection open).
inline constexpr uint8_t kConnectSuccess = 0;
inline constexpr uint8_t kConnectAlreadyConnected = 2;

inline constexpr uint32_t kRequestLength = 4;
inline constexpr uint32_t kEnumerationResponseLength = 36;
inline constexpr uint32_t kPropertiesResponseLength = 28;
inline constexpr uint32_t kConnectResponseLength = 4;
inline constexpr uint32_t kDisconnectResponseLength = 8;
inline constexpr uint32_t kFlowControlLength = 8;

// Offsets in the client-properties response.
inline constexpr uint32_t kPropAddress = 1;
inline constexpr uint32_t kPropStatus = 2;
inline constexpr uint32_t kPropGuid = 4;
inline constexpr uint32_t kPropProtocolVersion = 20;
inline constexpr uint32_t kPropMaxConnections = 21;
inline constexpr uint32_t kPropFixedAddress = 22;
inline constexpr uint32_t kPropSingleReceiveBuffer = 23;
inline constexpr uint32_t kPropMaxMessageLength = 24;

// A zero-filled message of whole 32-bit words, the unit the protocol moves.
template <uint32_t Bytes>
struct Message {
  static_assert(Bytes % 4 == 0, "bus messages are whole 32-bit words");
  static constexpr uint32_t kLength = Bytes;
  uint32_t words[Bytes / 4] = {};

  uint8_t *bytes() { return reinterpret_cast<uint8_t *>(words); }
  const uint8_t *bytes() const { return reinterpret_cast<const uint8_t *>(words); }
  uint8_t operator[](uint32_t i) const { return bytes()[i]; }
  void Clear() {
    for (uint32_t &w : words) w = 0;
  }
};

// The four-byte requests: code, address, host address, 0.
inline Message<kRequestLength> Request(uint8_t code, uint8_t me_address, uint8_t host_address) {
  Message<kRequestLength> m;
  m.bytes()[0] = code;
  m.bytes()[1] = me_address;
  m.bytes()[2] = host_address;
  return m;
}

// The host's flow-control credit for a client: 0x08, address, host address, five zeros.
inline Message<kFlowControlLength> FlowControl(uint8_t me_address) {
  Message<kFlowControlLength> m;
  m.bytes()[0] = kFlowControl;
  m.bytes()[1] = me_address;
  m.bytes()[2] = kHostClientAddress;
  return m;
}

inline uint32_t ReadLe32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The bytes a 32-bit message buffer needs to hold `length` bytes: the protocol
// may move whole words, so a buffer for an odd length gets the rest of its last word.
inline uint64_t WordRoundedSize(uint32_t length) { return (static_cast<uint64_t>(length) + 3) & ~3ULL; }

}  // namespace hbm

#endif  // NAVO_HECI_HBM_H_
