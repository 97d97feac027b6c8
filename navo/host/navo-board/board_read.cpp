#include "navo/host/navo-board/board_read.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "navo/heci/image_version_message.h"
#include "navo/host/json_text.h"

namespace {

std::string ErrnoText(int errno_value) { return std::strerror(errno_value); }

// What the reply held, for a status that says only that it was refused.
std::string ReplyCause(FwuStatus fwu, const std::vector<uint8_t> &reply) {
  std::string text = "the ME answered FwuStatus " + std::to_string(fwu);
  if (fwu == fwu::kVersionNotAvailable) return text + " (result 0x81: the ME has no FW version to give)";
  if (fwu == fwu::kMessageTooLong) return text + " (the MKHI client takes messages shorter than the request)";
  namespace at = image_version_reply;
  char what[96];
  if (reply.size() <= at::kResultOffset) {
    static_cast<void>(std::snprintf(what, sizeof what, " (a reply of %zu bytes, too short)", reply.size()));
  } else if (reply.size() < at::kRecordsOffset) {
    static_cast<void>(std::snprintf(what, sizeof what, " (result 0x%02X, a reply of %zu bytes)",
                                    reply[at::kResultOffset], reply.size()));
  } else {
    static_cast<void>(std::snprintf(what, sizeof what, " (result 0x%02X, %u records in %zu bytes; one is asked for)",
                                    reply[at::kResultOffset],
                                    static_cast<unsigned>(hbm::ReadLe32(reply.data() + at::kCountOffset)),
                                    reply.size()));
  }
  return text + what;
}

}  // namespace

std::string MeiCause(const MeiResult &r, int wait_ms) {
  const std::string device = kMeiDevice;
  switch (r.error) {
    case MeiError::NoDevice: return "no " + device + " (no driver, or no ME)";
    case MeiError::NotReady: return "the ME behind " + device + " is not ready (" + ErrnoText(r.errno_value) + ")";
    case MeiError::PermissionDenied: return "permission denied on " + device + " (run as root)";
    case MeiError::OpenFailed: return "cannot open " + device + ": " + ErrnoText(r.errno_value);
    case MeiError::ClientNotFound: return "the MKHI client is not found on " + device;
    case MeiError::ConnectFailed: return "cannot connect to the MKHI client: " + ErrnoText(r.errno_value);
    case MeiError::WriteFailed: return "cannot send the request to " + device + ": " + ErrnoText(r.errno_value);
    case MeiError::ReadFailed: return "cannot read the reply from " + device + ": " + ErrnoText(r.errno_value);
    case MeiError::Timeout:
      return "the ME did not answer within " + std::to_string(wait_ms / 1000) + " seconds";
    case MeiError::None: break;
  }
  return "";
}

std::optional<FwVersion> AskBoardVersion(MeiConnection *mei, int wait_ms, BoardFailure *failure) {
  const ImageVersionRequest request = MakeImageVersionRequest(kPartitionFtpr);
  if (ImageVersionRequest::kLength > mei->max_message_length()) {
    failure->fwu = fwu::kMessageTooLong;
    failure->cause = ReplyCause(fwu::kMessageTooLong, {});
    return std::nullopt;
  }
  std::vector<uint8_t> reply;
  const MeiResult r = mei->Transact(request.bytes(), ImageVersionRequest::kLength, &reply, wait_ms);
  if (!r.ok()) {
    failure->cause = MeiCause(r, wait_ms);
    return std::nullopt;
  }
  ImageVersionRecord record{};
  uint32_t count = 0;
  const FwuStatus fwu =
      ReadImageVersionReply(reply.data(), static_cast<uint32_t>(reply.size()), &record, 1, &count);
  if (fwu != fwu::kSuccess) {
    failure->fwu = fwu;
    failure->cause = ReplyCause(fwu, reply);
    return std::nullopt;
  }
  const FwVersion version = RecordVersion(record);
  if (!HasFwVersion(version)) {
    // -CHKMEVER's "Error! Can not read ME FW Verion on the Board." for the same reply.
    char text[64];
    static_cast<void>(std::snprintf(text, sizeof text, "the ME answered %u.%u.%u.%u: a Major of 0 is no version",
                                    version.Major, version.Minor, version.HotFix, version.Build));
    failure->fwu = fwu;
    failure->cause = text;
    return std::nullopt;
  }
  return version;
}

std::string BoardFailureJson(const BoardFailure &failure) {
  std::string line = "{\"version\": null, \"error\": ";
  static_cast<void>(AppendJsonString(line, failure.cause));
  return line + ", \"fwu_status\": " + (failure.fwu ? std::to_string(*failure.fwu) : "null") + "}\n";
}
