// The checksum's byte sum beside memchr looking for an absent byte over the
// same memory: memchr is about as fast as one pass over memory gets, so it is
// the yardstick for "the sum costs no more than reading the data".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

#include "chksum/chksum.h"

namespace {

constexpr std::size_t kSize = std::size_t{256} << 20;  // 256 MiB

const uint8_t *Data() {
  static const std::unique_ptr<uint8_t[]> data = [] {
    auto d = std::make_unique<uint8_t[]>(kSize);
    // Every byte value but 0xAB, so that memchr for 0xAB runs to the end.
    uint32_t x = 12345;
    for (std::size_t i = 0; i < kSize; ++i) {
      x = x * 1103515245u + 12345u;
      uint8_t b = static_cast<uint8_t>(x >> 16);
      d[i] = b == 0xAB ? 0xAA : b;
    }
    return d;
  }();
  return data.get();
}

double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The sum's best time over memchr's best time on the same bytes, taken in the
// same run ("x_memchr").
void BM_ByteSum(benchmark::State &state) {
  const uint8_t *data = Data();
  double best = 1e9;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    uint32_t sum = chksum::ContinueByteSum(0, data, kSize);
    best = std::min(best, Since(t0));
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
  double memchr_best = 1e9;
  for (int i = 0; i < 10; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    const void *hit = std::memchr(data, 0xAB, kSize);
    memchr_best = std::min(memchr_best, Since(t0));
    benchmark::DoNotOptimize(hit);
  }
  state.counters["x_memchr"] = best / memchr_best;
}
BENCHMARK(BM_ByteSum)->Unit(benchmark::kMillisecond);

void BM_MemchrAbsentByte(benchmark::State &state) {
  const uint8_t *data = Data();
  for (auto _ : state) {
    const void *hit = std::memchr(data, 0xAB, kSize);
    benchmark::DoNotOptimize(hit);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}
BENCHMARK(BM_MemchrAbsentByte)->Unit(benchmark::kMillisecond);

}  // namespace
