#include "tests/sim/sim_me.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// The HECI client keeps the protocol it located for the rest of the run; a
// simulated ME going away must take that with it, or the next test's board
// would be handed a protocol that no longer exists. Weak: test programs that
// do not link the client have nothing to forget.
extern "C" void NavoHeciForgetProtocol(void) __attribute__((weak));

namespace sim {
namespace {

constexpr uint8_t kEnumerate = 0x04;
constexpr uint8_t kProperties = 0x05;
constexpr uint8_t kConnect = 0x06;
constexpr uint8_t kDisconnect = 0x07;
constexpr uint8_t kFlowControl = 0x08;
constexpr uint8_t kPropertiesResponse = 0x85;
constexpr uint8_t kInvalidAddress = 1;
constexpr uint8_t kConnectNotFound = 1;
constexpr uint32_t kRecordSize = 88;

void PutLe32(std::vector<uint8_t> &v, uint32_t value) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Le32(const std::vector<uint8_t> &v, std::size_t at) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && at + i < v.size(); ++i) value |= uint32_t{v[at + i]} << (8 * i);
  return value;
}

std::vector<uint8_t> Credit(uint8_t me_address, uint8_t host_address) {
  return {kFlowControl, me_address, host_address, 0, 0, 0, 0, 0};
}

void ForgetHostProtocol() {
  if (NavoHeciForgetProtocol != nullptr) NavoHeciForgetProtocol();
}

}  // namespace

std::array<uint8_t, 16> GuidBytes(const PlatGuid &guid) {
  std::array<uint8_t, 16> b{};
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(guid.Data1 >> (8 * i));
  b[4] = static_cast<uint8_t>(guid.Data2);
  b[5] = static_cast<uint8_t>(guid.Data2 >> 8);
  b[6] = static_cast<uint8_t>(guid.Data3);
  b[7] = static_cast<uint8_t>(guid.Data3 >> 8);
  for (int i = 0; i < 8; ++i) b[8 + i] = guid.Data4[i];
  return b;
}

MeClient MkhiClient(uint8_t address) {
  MeClient c;
  c.guid = kMkhiGuid;
  c.address = address;
  return c;
}

SimMe::SimMe()
    : SimMe({
          MeClient{{0x309DCDE8, 0xCCB1, 0x4062, {0x8F, 0x78, 0x60, 0x01, 0x15, 0xA3, 0x43, 0x27}}, 2},
          MkhiClient(7),
          MeClient{{0xDD17041C, 0x09EA, 0x4B17, {0xA2, 0x71, 0x5B, 0x98, 0x98, 0x67, 0xEC, 0x65}}, 9},
      }) {}

SimMe::SimMe(std::vector<MeClient> c) : clients(std::move(c)) { ForgetHostProtocol(); }

SimMe::~SimMe() { ForgetHostProtocol(); }

void SimMe::Queue(std::vector<uint8_t> bytes, int held_reads) {
  outgoing.push_back({std::move(bytes), held_reads});
}

const MeClient *SimMe::ClientAt(uint8_t address) const {
  for (const MeClient &c : clients)
    if (c.address == address) return &c;
  return nullptr;
}

const MeClient *SimMe::FixedClientAt(uint8_t address) const {
  for (const MeClient &c : clients)
    if (c.fixed_address != 0 && c.fixed_address == address) return &c;
  return nullptr;
}

std::vector<uint8_t> SimMe::VersionReply() const {
  std::vector<uint8_t> r = {0xFF, 0x9C, 0x00, version_result};  // response flag set
  PutLe32(r, version_record_count);
  uint32_t records = version_records_sent.value_or(std::min<uint32_t>(version_record_count, 4));
  for (uint32_t k = 0; k < records; ++k) {
    std::vector<uint8_t> record(kRecordSize);
    for (uint32_t i = 0; i < kRecordSize; ++i) record[i] = static_cast<uint8_t>(0xA0 + i + k);
    for (int f = 0; f < 4; ++f) {
      uint16_t value = static_cast<uint16_t>(version[f] + (f == 3 ? k : 0));
      record[12 + 2 * f] = static_cast<uint8_t>(value);
      record[13 + 2 * f] = static_cast<uint8_t>(value >> 8);
    }
    r.insert(r.end(), record.begin(), record.end());
  }
  if (version_reply_length) r.resize(*version_reply_length);
  return r;
}

// Reads move whole 32-bit words; a pool buffer must have room for the last
// word even when the message ends inside it.
void SimMe::CheckPoolRoom(const void *buffer, uint64_t bytes) {
  uint64_t offset = 0;
  uint64_t size = 0;
  if (!Board::Current().FindAllocation(buffer, &offset, &size)) return;  // not a pool buffer
  if (offset + bytes > size) {
    faults.push_back("read of " + std::to_string(bytes) + " bytes overruns a pool buffer of " +
                     std::to_string(size) + " bytes");
  }
}

PlatStatus SimMe::ReadMsg(uint32_t device, uint32_t blocking, uint32_t *buffer, uint32_t *length) {
  std::size_t call = reads.size();
  reads.push_back({length ? *length : 0, 0, PLAT_SUCCESS, device, blocking});
  HeciRead &r = reads.back();
  auto finish = [&](PlatStatus status, uint32_t received) {
    r.status = status;
    r.received = received;
    if (length) *length = received;
    return status;
  };
  if (device != 0) faults.push_back("read on device " + std::to_string(device));
  if (blocking != 1) faults.push_back("non-blocking read");
  if (buffer == nullptr || length == nullptr) return finish(PLAT_INVALID_PARAMETER, 0);
  if (auto f = fail_read.find(call); f != fail_read.end()) return finish(f->second, 0);
  if (outgoing.empty()) return finish(PLAT_TIMEOUT, 0);
  Outgoing &head = outgoing.front();
  if (head.held_reads > 0) {
    --head.held_reads;
    return finish(PLAT_TIMEOUT, 0);
  }
  std::vector<uint8_t> message = std::move(head.bytes);
  outgoing.pop_front();
  uint32_t size = static_cast<uint32_t>(message.size());
  if (size > r.room) return finish(PLAT_BUFFER_TOO_SMALL, 0);
  uint32_t words = (size + 3) / 4 * 4;
  std::size_t before = faults.size();
  CheckPoolRoom(buffer, words);
  message.resize(faults.size() == before ? words : size, 0);
  std::memcpy(buffer, message.data(), message.size());
  return finish(PLAT_SUCCESS, size + overreport);
}

PlatStatus SimMe::SendMsg(uint32_t device, const uint32_t *message, uint32_t length, uint8_t host_address,
                          uint8_t me_address) {
  std::size_t call = sent.size();
  HeciMessage m;
  if (message != nullptr) {
    auto p = reinterpret_cast<const uint8_t *>(message);
    m.bytes.assign(p, p + length);
  }
  m.host_address = host_address;
  m.me_address = me_address;
  m.device = device;
  m.status = PLAT_SUCCESS;
  if (auto f = fail_send.find(call); f != fail_send.end()) m.status = f->second;
  sent.push_back(m);
  if (PLAT_IS_ERROR(m.status)) return m.status;
  if (device != 0) faults.push_back("send on device " + std::to_string(device));
  if (message == nullptr || length == 0) {
    faults.push_back("empty send");
    return PLAT_INVALID_PARAMETER;
  }
  if (host_address == 0 && me_address == 0) {
    OnBusMessage(m);
  } else {
    OnClientMessage(m);
  }
  return PLAT_SUCCESS;
}

void SimMe::OnBusMessage(const HeciMessage &m) {
  const std::vector<uint8_t> &b = m.bytes;
  uint8_t address = b.size() > 1 ? b[1] : 0;
  uint8_t host = b.size() > 2 ? b[2] : 0;
  switch (b[0]) {
    case kEnumerate: {
      if (enumeration_drops > 0) {
        --enumeration_drops;
        return;
      }
      std::vector<uint8_t> r(36, 0);
      r[0] = enumeration_code;
      for (const MeClient &c : clients)
        if (c.address != 0) r[4 + c.address / 8] |= static_cast<uint8_t>(1u << (c.address % 8));
      Queue(std::move(r));
      return;
    }
    case kProperties: {
      std::vector<uint8_t> r(28, 0);
      r[0] = kPropertiesResponse;
      r[1] = address;
      const MeClient *c = ClientAt(address);
      if (c == nullptr) {
        r[2] = kInvalidAddress;
      } else {
        r[2] = c->properties_status;
        auto g = GuidBytes(c->guid);
        std::copy(g.begin(), g.end(), r.begin() + 4);
        r[20] = c->protocol_version;
        r[21] = c->max_connections;
        r[22] = c->fixed_address;
        r[23] = c->single_receive_buffer;
        for (int i = 0; i < 4; ++i) r[24 + i] = static_cast<uint8_t>(c->max_message_length >> (8 * i));
      }
      Queue(std::move(r));
      return;
    }
    case kConnect: {
      const MeClient *c = ClientAt(address);
      uint8_t status = (c == nullptr || c->fixed_address != 0) ? kConnectNotFound : c->connect_status;
      Queue({connect_code, address, host, status});
      if (status == 0 || status == 2) {
        connected[address] = true;
        credits_[address] = 0;
        if (credit_after_connect) Queue(Credit(address, host));
      }
      return;
    }
    case kDisconnect:
      connected[address] = false;
      Queue({disconnect_code, address, host, disconnect_status});
      return;
    case kFlowControl:
      if (m.bytes.size() != 8) faults.push_back("flow-control message of " + std::to_string(b.size()) + " bytes");
      ++credits_[address];
      return;
    default:
      faults.push_back("unknown bus message " + Describe(m));
  }
}

void SimMe::OnClientMessage(const HeciMessage &m) {
  const MeClient *c = nullptr;
  bool fixed = m.host_address == 0;
  if (fixed) {
    c = FixedClientAt(m.me_address);
  } else if (connected[m.me_address]) {
    c = ClientAt(m.me_address);
  }
  if (c == nullptr) {
    faults.push_back("message to no connected client: " + Describe(m));
    return;
  }
  if (!fixed) {
    if (m.host_address != 1) faults.push_back("client message from host address " + std::to_string(m.host_address));
    if (credits_[m.me_address] <= 0) {
      faults.push_back("client message without the host's credit: " + Describe(m));
    } else {
      --credits_[m.me_address];
    }
  }
  if (m.bytes.size() > c->max_message_length) faults.push_back("message longer than the client takes");

  std::optional<std::vector<uint8_t>> reply;
  if (on_client_message) {
    reply = on_client_message(m);
  } else if (std::memcmp(&c->guid, &kMkhiGuid, sizeof(PlatGuid)) == 0 && m.bytes.size() == 8 &&
             Le32(m.bytes, 0) == 0x00001CFF) {
    reply = VersionReply();
  }
  if (!reply) return;

  if (fixed) {
    Queue(std::move(*reply), reply_late_reads);
    return;
  }
  switch (credit_order) {
    case CreditOrder::kAfterReply:
      Queue(std::move(*reply), reply_late_reads);
      Queue(Credit(m.me_address, m.host_address));
      break;
    case CreditOrder::kBeforeReply:
      Queue(Credit(m.me_address, m.host_address));
      Queue(std::move(*reply), reply_late_reads);
      break;
    case CreditOrder::kNone:
      Queue(std::move(*reply), reply_late_reads);
      break;
  }
}

PlatStatus SimMe::Reset(uint32_t device) {
  ++resets;
  if (device != 0) faults.push_back("reset of device " + std::to_string(device));
  if (PLAT_IS_ERROR(reset_status)) return reset_status;
  // A reset drops every connection and whatever the ME had not delivered.
  outgoing.clear();
  connected.clear();
  credits_.clear();
  return PLAT_SUCCESS;
}

std::vector<HeciMessage> SimMe::BusMessages() const {
  std::vector<HeciMessage> out;
  for (const auto &m : sent)
    if (m.host_address == 0 && m.me_address == 0) out.push_back(m);
  return out;
}

std::vector<HeciMessage> SimMe::ClientMessages() const {
  std::vector<HeciMessage> out;
  for (const auto &m : sent)
    if (m.host_address != 0 || m.me_address != 0) out.push_back(m);
  return out;
}

int SimMe::CountBus(uint8_t code) const {
  int n = 0;
  for (const auto &m : BusMessages())
    if (!m.bytes.empty() && m.bytes[0] == code) ++n;
  return n;
}

std::string Describe(const HeciMessage &m) {
  std::string s;
  char hex[4];
  for (uint8_t b : m.bytes) {
    std::snprintf(hex, sizeof hex, "%02X ", b);
    s += hex;
  }
  return s + "(host " + std::to_string(m.host_address) + ", me " + std::to_string(m.me_address) + ")";
}

HeciMessage BusRequest(uint8_t code, uint8_t address, uint8_t host_address) {
  return {{code, address, host_address, 0}, 0, 0, 0, PLAT_SUCCESS};
}

HeciMessage HostCredit(uint8_t me_address) {
  return {Credit(me_address, 1), 0, 0, 0, PLAT_SUCCESS};
}

}  // namespace sim
