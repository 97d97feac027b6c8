// What navo-board makes of the ME behind a connected MEI descriptor: the
// board's FTPR version as NAVO.efi -RB01 takes it, or why there is none.
#ifndef NAVO_HOST_BOARD_READ_H_
#define NAVO_HOST_BOARD_READ_H_

#include <optional>
#include <string>

#include "navo/heci/transfer.h"
#include "navo/types.h"
#include "platform/posix/mei_device.h"

inline constexpr char kMeiDevice[] = "/dev/mei0";

// The read's own wait and then the stall the board's client gives a late
// reply: a slow ME that the board waits out is not a failure here.
inline constexpr int kBoardReplyWaitMs = kMeiReadWaitMs + static_cast<int>(kLateReplyStallUs / 1000);

// Why there is no version from the board, and the FwuStatus when the ME
// answered (0 for a reply that carries a Major of 0).
struct BoardFailure {
  std::string cause;
  std::optional<FwuStatus> fwu;
};

// The cause of a failed open, connect or exchange on kMeiDevice; a timeout
// names the `wait_ms` it waited.
std::string MeiCause(const MeiResult &r, int wait_ms);

// Sends the image-version request on `mei` and judges the reply with the
// board code, waiting at most `wait_ms` for it. A version whose Major is 0
// is no version here, as on the board.
std::optional<FwVersion> AskBoardVersion(MeiConnection *mei, int wait_ms, BoardFailure *failure);

// The JSON object of a run without a version, on one line.
std::string BoardFailureJson(const BoardFailure &failure);

#endif  // NAVO_HOST_BOARD_READ_H_
