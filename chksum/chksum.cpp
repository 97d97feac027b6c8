#include "chksum/chksum.h"

#include "chksum/report.h"
#include "platform/guards.h"
#include "platform/print.h"
#include "platform/read_full.h"

namespace chksum {

uint32_t ContinueByteSum(uint32_t running, const uint8_t *data, uint64_t size) {
#if defined(__SSE2__)
  // x86-64 always has SSE2: PSADBW adds each 8-byte half of a 16-byte vector
  // into a 64-bit lane in one instruction, about twice the speed of the
  // portable lanes below, which is what lets the Linux tools sum a file as
  // fast as the kernel hands it over. Four accumulators keep the adds
  // independent; 64-bit lanes cannot overflow at any file size.
  using Bytes16 = char __attribute__((vector_size(16)));
  using Wide2 = long long __attribute__((vector_size(16)));
  constexpr uint64_t kBlock = 64;
  const Bytes16 zero = {};
  Wide2 acc0 = {}, acc1 = {}, acc2 = {}, acc3 = {};
  auto load = [](const uint8_t *p) {
    Bytes16 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
  };
  for (; size >= kBlock; data += kBlock, size -= kBlock) {
    acc0 += __builtin_ia32_psadbw128(load(data), zero);
    acc1 += __builtin_ia32_psadbw128(load(data + 16), zero);
    acc2 += __builtin_ia32_psadbw128(load(data + 32), zero);
    acc3 += __builtin_ia32_psadbw128(load(data + 48), zero);
  }
  const Wide2 acc = (acc0 + acc1) + (acc2 + acc3);
  running += static_cast<uint32_t>(acc[0] + acc[1]);
#else
  // Sixteen bytes at a time as eight 16-bit lanes: each lane takes the byte
  // pair it covers (low byte + high byte, at most 510). 128 steps fit a lane
  // (128 * 510 < 65536); then the lanes wrap into the 32-bit total, which is
  // all a sum modulo 2^32 needs.
  using Bytes16 = uint8_t __attribute__((vector_size(16)));
  using Lanes16 = uint16_t __attribute__((vector_size(16)));
  constexpr uint64_t kStep = 16;
  constexpr uint64_t kStepsPerRound = 128;

  while (size >= kStep) {
    uint64_t steps = size / kStep;
    if (steps > kStepsPerRound) steps = kStepsPerRound;
    Lanes16 lanes = {};
    for (uint64_t i = 0; i < steps; ++i) {
      Bytes16 bytes;
      __builtin_memcpy(&bytes, data + i * kStep, kStep);
      const Lanes16 pairs = reinterpret_cast<Lanes16>(bytes);
      lanes += (pairs & 0xFF) + (pairs >> 8);
    }
    for (int lane = 0; lane < 8; ++lane) running += lanes[lane];
    data += steps * kStep;
    size -= steps * kStep;
  }
#endif
  for (uint64_t i = 0; i < size; ++i) running += data[i];
  return running;
}

namespace {

// A directory opens like a file, but its "data" is its entry list: refuse it
// the way an unopenable name is refused, with a non-success status.
constexpr PlatStatus kNotAFileStatus = PLAT_ACCESS_DENIED;

uint64_t SumFile(const char16_t *name) {
  plat::FileGuard file;
  PlatStatus status = PlatFileOpenByName(name, PLAT_FILE_MODE_READ, file.Out());
  if (PLAT_IS_ERROR(status) || !file) {
    Print(u"ERROR ! Open File failed!\n");
    return PLAT_IS_ERROR(status) ? status : PLAT_NOT_FOUND;
  }

  PlatFileInfo info{};
  status = PlatFileGetInfo(file.Get(), &info);
  if (PLAT_IS_ERROR(status)) {
    Print(u"ERROR ! Read File failed!\n");
    return status;
  }
  if (info.IsDirectory != 0) {
    Print(u"ERROR ! Open File failed!\n");
    return kNotAFileStatus;
  }

  plat::PoolBuffer buffer(info.FileSize);
  if (!buffer) return PLAT_NO_BUFFER;

  uint64_t count = 0;
  status = plat::ReadFull(file.Get(), buffer.Bytes(), info.FileSize, &count);
  if (PLAT_IS_ERROR(status)) {
    Print(u"ERROR ! Read File failed!\n");
    return status;
  }

  const uint32_t sum = ContinueByteSum(0, buffer.Bytes(), count);
  PrintChksumReport(name, count, sum);
  return PLAT_SUCCESS;
}

}  // namespace
}  // namespace chksum

extern "C" uint64_t ChksumMain(uint64_t argc, PlatChar16 **argv) {
  // The shell's count is tested on its low byte only.
  switch (static_cast<uint8_t>(argc)) {
    case 1:
      Print(u"Usage is: CheckSum filenameUnable to open (NULL)\n");
      return PLAT_SUCCESS;
    case 2:
      break;
    default:
      Print(u"ERROR! Parameters more than 2.\n");
      return PLAT_SUCCESS;
  }

  const char16_t *name = argv != nullptr ? argv[1] : nullptr;
  if (name == nullptr) {
    Print(u"Usage is: CheckSum filenameUnable to open (NULL)\n");
    return PLAT_SUCCESS;
  }
  if (name[0] == u'?') {
    Print(u"CheckSum Version: %d.%d\n", chksum::kVersionMajor, chksum::kVersionMinor);
    Print(u"Usage is: CHKSUM <filename.ext> \n");
    return PLAT_SUCCESS;
  }
  return chksum::SumFile(name);
}
