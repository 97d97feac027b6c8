// CHKSUM for Linux: the same report as CHKSUM.efi, for checking images on a
// build machine before they go onto a board.
//
// The file is read in fixed-size pieces, so memory stays small for any size,
// and its name is opened and printed as the bytes it is. Everything else (the
// usage, the version and the parameter messages) is CHKSUM.efi's own code.
//
// The exit status is 0 on success; a failing file operation's UEFI status is
// folded into a shell exit code by its low byte (EFI_NOT_FOUND -> 14), and 1
// when that byte is 0.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "chksum/chksum.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/file_stream.h"
#include "platform/print.h"

namespace {

struct Sum {
  uint64_t bytes = 0;
  uint32_t sum = 0;
};

void AddPiece(void *context, const uint8_t *data, std::size_t size) {
  auto *s = static_cast<Sum *>(context);
  s->sum = chksum::ContinueByteSum(s->sum, data, size);
  s->bytes += size;
}

uint64_t SumFile(const char *path) {
  Sum sum;
  StreamFailure failure{};
  if (!StreamFile(path, AddPiece, &sum, &failure)) {
    Print(failure.stage == StreamStage::Open ? u"ERROR ! Open File failed!\n"
                                             : u"ERROR ! Read File failed!\n");
    return StatusFromErrno(failure.error);
  }
  const std::u16string name = Ucs2FromBytes(path);
  chksum::PrintChksumReport(name.c_str(), sum.bytes, sum.sum);
  return PLAT_SUCCESS;
}

int ExitCode(uint64_t status, bool reported) {
  if (status == 0) return reported ? 0 : 1;
  return (status & 0xFF) != 0 ? static_cast<int>(status & 0xFF) : 1;
}

}  // namespace

int main(int argc, char **argv) {
  uint64_t status = 0;
  // The count is tested on its low byte, as the shell's is.
  if (static_cast<uint8_t>(argc) == 2 && argv[1][0] != '?') {
    status = SumFile(argv[1]);
  } else {
    std::vector<std::u16string> words;
    words.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) words.push_back(Ucs2FromBytes(argv[i]));
    std::vector<PlatChar16 *> vector;
    vector.reserve(words.size() + 1);
    for (auto &w : words) vector.push_back(w.data());
    vector.push_back(nullptr);
    status = ChksumMain(static_cast<uint64_t>(argc), vector.data());
  }
  // A report that could not be written (a full disk, a closed pipe) is no
  // report: the caller must not take the run for a success.
  const bool reported = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return ExitCode(status, reported);
}
