// Result codes of the ME's firmware clients and the FwuStatus each stands for.
#ifndef NAVO_HECI_STATUS_MAP_H_
#define NAVO_HECI_STATUS_MAP_H_

#include <cstdint>

#include "navo/heci/client_kinds.h"
#include "navo/types.h"

// The FwuStatus for a client's result code; 3 for a code the kind's table
// does not hold and for a kind without a table.
FwuStatus MapClientStatus(uint32_t code, ClientKind kind);

#endif  // NAVO_HECI_STATUS_MAP_H_
