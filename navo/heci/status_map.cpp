// Result codes of the ME's firmware clients and the FwuStatus each stands for.
// Only the version query's table (kind 20) is consulted by this program; the
// others hold the rows known for their clients.
#include "navo/heci/status_map.h"

#include <span>

#include "navo/heci/fwu_status.h"

namespace {

struct StatusRow {
  uint32_t code;
  FwuStatus status;
};

constexpr StatusRow kVersionQueryRows[] = {
    {0, 0},
    {0x81, fwu::kVersionNotAvailable},
};

constexpr StatusRow kKind10Rows[] = {
    {1, 0},
    {16, 0},
};

constexpr StatusRow kKind0Rows[] = {
    {0, 0},
    {2500, 613},
    {2501, 614},
};

constexpr StatusRow kKind7Rows[] = {
    {0, 0},     {0xF0034, 230}, {0xF0035, 231}, {0xF0036, 232}, {0xF0004, 234},
    {0xF000B, 235}, {0x6019, 278}, {0x6017, 276}, {0x6006, 277},
};

constexpr StatusRow kKind14Rows[] = {
    {2, 544},
    {6, 548},
    {55, 35},
    {0x503, 609},
};

// 165 stands twice; the first row wins.
constexpr StatusRow kKind21Rows[] = {
    {0, 0}, {1, 0}, {3, 267}, {8, 0}, {165, 229}, {165, 227}, {216, 192},
};

constexpr StatusRow kKind23Rows[] = {
    {0, 0}, {5, 332}, {129, 243}, {518, 5}, {753, 668},
};

std::span<const StatusRow> TableOf(ClientKind kind) {
  switch (kind) {
    case client_kind::kVersionQuery:
      return kVersionQueryRows;
    case 10:
    case client_kind::kEntry10:
      return kKind10Rows;
    case 0:
      return kKind0Rows;
    case 7:
    case 9:
      return kKind7Rows;
    case 14:
      return kKind14Rows;
    case client_kind::kMkhiOrFallback:
      return kKind21Rows;
    case client_kind::kEntry1:
      return kKind23Rows;
    default:
      return {};
  }
}

}  // namespace

FwuStatus MapClientStatus(uint32_t code, ClientKind kind) {
  for (const StatusRow &row : TableOf(kind)) {
    if (row.code == code) return row.status;
  }
  return fwu::kInvalidParameter;
}
