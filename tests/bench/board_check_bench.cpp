// The board signature search over the whole 64 KiB legacy area, beside one
// memchr pass over the same bytes ("x_memchr"). Worst cases: no signature at
// all (erased 0xFF), and an area full of near misses ("$$ZA" and "$$VE" that
// fail late) with the signature in its last six bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "navo/board_check.h"

namespace {

std::vector<uint8_t> MakeArea(bool near_misses) {
  std::vector<uint8_t> area(kLegacyAreaSize, 0xFF);
  if (near_misses) {
    for (std::size_t i = 0; i + 10 <= area.size(); i += 10) std::memcpy(&area[i], "$$ZAN_$$VE", 10);
    std::memcpy(&area[area.size() - 6], "$$VEK-", 6);
  }
  return area;
}

void BM_HasBoardSignature(benchmark::State &state) {
  const bool near = state.range(0) != 0;
  const std::vector<uint8_t> area = MakeArea(near);
  double best = 1e9;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    bool found = HasBoardSignature(area.data(), area.size());
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (found != near) state.SkipWithError("unexpected search result");
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * area.size()));
  double memchr_best = 1e9;
  for (int i = 0; i < 200; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    const void *p = std::memchr(area.data(), 0x01, area.size());
    benchmark::DoNotOptimize(p);
    memchr_best =
        std::min(memchr_best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["x_memchr"] = best / memchr_best;
}

}  // namespace

BENCHMARK(BM_HasBoardSignature)->ArgName("near_misses")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
