// Status numbers of the ME host interface client (FwuStatus, 0 is success).
// Above the version query only zero or non-zero matters.
#ifndef NAVO_HECI_FWU_STATUS_H_
#define NAVO_HECI_FWU_STATUS_H_

#include "navo/types.h"

namespace fwu {
inline constexpr FwuStatus kSuccess = 0;
// A record, buffer or length is missing or 0; an invalid client kind; a result
// code no table knows; a reply that does not hold what is read from it.
inline constexpr FwuStatus kInvalidParameter = 3;
inline constexpr FwuStatus kNoMemory = 5;
// Connect refused or failed; a client message cannot be sent or a reply read.
inline constexpr FwuStatus kSendReceiveFailed = 23;
// No HECI protocol, reset failed, enumeration or properties failed, no client.
inline constexpr FwuStatus kNoClient = 28;
inline constexpr FwuStatus kDisconnectFailed = 29;
inline constexpr FwuStatus kFlowControlFailed = 32;
inline constexpr FwuStatus kMessageTooLong = 35;
inline constexpr FwuStatus kReplyDoesNotFit = 40;
// The ME answered the image-version request with result 0x81.
inline constexpr FwuStatus kVersionNotAvailable = 326;
}  // namespace fwu

#endif  // NAVO_HECI_FWU_STATUS_H_
