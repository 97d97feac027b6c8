// FindManifestVersion on a 32 MiB image whose FTPR partition lies at its end,
// beside one memchr pass over the same buffer: the locator is expected to stay
// within 1.5 times the memchr time. Two fillers: pseudo-random bytes (a
// compressed BIOS region, every byte value but one present) and erased flash
// (0xFF). The ratio is reported as the counter "x_memchr" of the locator runs:
// each iteration times the locator and then memchr over the same bytes, and
// the counter is the median of those pairs' ratios, so that load from
// elsewhere on the machine falls on both.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "navo/fw_version/image_scan.h"
#include "navo/fw_version/image_version.h"
#include "tests/sim/sim_board.h"

namespace {

constexpr std::size_t kImageSize = 32u << 20;
constexpr uint8_t kAbsent = 0x5A;  // memchr looks for it; the filler never has it

std::vector<uint8_t> MakeImage(bool random) {
  std::vector<uint8_t> image(kImageSize, 0xFF);
  if (random) {
    std::mt19937_64 rng(12);
    for (std::size_t i = 0; i < kImageSize; i += 8) {
      uint64_t w = rng();
      std::memcpy(&image[i], &w, 8);
    }
    for (auto &b : image)
      if (b == kAbsent) b = kAbsent + 1;
  }
  // Some other partitions on the way, then FTPR in the last 64 KiB.
  const char *others[] = {"RBEP", "NFTP", "WCOD", "LOCL"};
  for (int i = 0; i < 4; ++i) {
    std::size_t at = (i + 1) * (kImageSize / 6);
    std::memcpy(&image[at], "$CPD\x05\0\0\0\x01\x01\x01\x01", 12);
    std::memcpy(&image[at + 12], others[i], 4);
  }
  const std::size_t ftpr = kImageSize - 0x10000;
  std::memcpy(&image[ftpr], "$CPD\x05\0\0\0\x01\x01\x01\x01" "FTPR", 16);
  std::memcpy(&image[ftpr + 0x400], "$MN2\0\0\0\0\x0C\0\0\0\x40\0\x0F\x06", 16);
  return image;
}

const std::vector<uint8_t> &Image(bool random) {
  static const std::vector<uint8_t> r = MakeImage(true), f = MakeImage(false);
  return random ? r : f;
}

double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One memchr pass over the image, timed: the second half of each pair.
double MemchrSeconds(const std::vector<uint8_t> &image) {
  auto t0 = std::chrono::steady_clock::now();
  const void *p = std::memchr(image.data(), kAbsent, image.size());
  benchmark::DoNotOptimize(p);
  return Since(t0);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_Memchr(benchmark::State &state) {
  const auto &image = Image(state.range(0) != 0);
  for (auto _ : state) {
    const void *p = std::memchr(image.data(), kAbsent, image.size());
    benchmark::DoNotOptimize(p);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}

void BM_FindManifestVersion(benchmark::State &state) {
  const auto &image = Image(state.range(0) != 0);
  sim::Board board;
  std::vector<double> ratios;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    FwVersion v{};
    PlatStatus status = FindManifestVersion(image.data(), uint32_t(image.size()), &v);
    const double ours = Since(t0);
    if (status != PLAT_SUCCESS || v.Build != 1551) state.SkipWithError("version not found");
    benchmark::DoNotOptimize(v);
    ratios.push_back(ours / MemchrSeconds(image));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
  state.counters["x_memchr"] = Median(ratios);
}

// The same search fed in 256 KiB pieces, as the Linux tool reads a file.
void BM_ImageScanChunked(benchmark::State &state) {
  const auto &image = Image(state.range(0) != 0);
  constexpr std::size_t kPiece = 256 * 1024;
  std::vector<double> ratios;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    ImageScan scan;
    ImageScanStart(&scan);
    for (std::size_t at = 0; at < image.size(); at += kPiece)
      ImageScanFeed(&scan, image.data() + at, uint32_t(std::min(kPiece, image.size() - at)));
    FwVersion v{};
    const bool found = ImageScanFinish(&scan, &v);
    const double ours = Since(t0);
    if (!found || v.Build != 1551) state.SkipWithError("version not found");
    benchmark::DoNotOptimize(v);
    ratios.push_back(ours / MemchrSeconds(image));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
  state.counters["x_memchr"] = Median(ratios);
}

}  // namespace

BENCHMARK(BM_Memchr)->ArgName("random")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindManifestVersion)->ArgName("random")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageScanChunked)->ArgName("random")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
