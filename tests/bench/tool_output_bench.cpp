// The "FW Version" search over the information tool's output on worst-case
// texts of 64 K and 1 M characters. The search must be linear: the counter
// "x_64k_per_char" of the 1 M runs is the cost per character at 1 M over the
// cost per character at 64 K of the same text (about 1 when linear, about 16
// if every label started its own scan to the end). "x_memchr" sets the time
// beside one memchr pass over the same bytes.
//
// Texts: "labels", the label over and over with no digit anywhere (every
// position matches, nothing is found); "near", "FW Versio" and a blank over
// and over (every tenth position compares nine characters and fails);
// "late", one label at the start and its digits at the very end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "navo/fw_version/info_tool.h"

namespace {

enum Text { kLabels, kNearMisses, kLateDigits };

std::vector<uint8_t> MakeText(Text kind, std::size_t chars) {
  std::u16string text;
  const std::u16string unit = kind == kLabels ? u"FW Version" : u"FW Versio ";
  if (kind == kLateDigits) text = u"FW Version: ";
  while (text.size() < chars) text += kind == kLateDigits ? u"x" : unit;
  text.resize(chars);
  if (kind == kLateDigits) text.replace(chars - 7, 7, u"1.2.3.4");
  std::vector<uint8_t> bytes(2 * chars);
  for (std::size_t i = 0; i < chars; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return bytes;
}

template <typename F>
double BestSeconds(F &&f, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

double SearchSeconds(const std::vector<uint8_t> &bytes, int runs) {
  return BestSeconds(
      [&] {
        char16_t text[kVersionTextChars + 1];
        auto r = FindVersionText(bytes.data(), bytes.size() / 2, text);
        benchmark::DoNotOptimize(r);
      },
      runs);
}

void BM_FindVersionText(benchmark::State &state) {
  const auto kind = static_cast<Text>(state.range(0));
  const auto chars = static_cast<std::size_t>(state.range(1));
  const std::vector<uint8_t> bytes = MakeText(kind, chars);
  char16_t text[kVersionTextChars + 1];
  VersionTextSearch expected = kind == kLateDigits ? VersionTextSearch::Found : VersionTextSearch::NotFound;
  double best = 1e9;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    VersionTextSearch r = FindVersionText(bytes.data(), chars, text);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (r != expected) state.SkipWithError("unexpected search result");
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * chars));
  state.counters["ns_per_char"] = best * 1e9 / static_cast<double>(chars);
  // The same text cut to 64 K characters, timed in this run.
  const std::size_t base_chars = 64 * 1024;
  const double base = SearchSeconds(MakeText(kind, base_chars), 50);
  state.counters["x_64k_per_char"] =
      (best / static_cast<double>(chars)) / (base / static_cast<double>(base_chars));
  const double memchr_s = BestSeconds(
      [&] {
        const void *p = std::memchr(bytes.data(), 0xEE, bytes.size());
        benchmark::DoNotOptimize(p);
      },
      50);
  state.counters["x_memchr"] = best / memchr_s;
}

}  // namespace

BENCHMARK(BM_FindVersionText)
    ->ArgNames({"text", "chars"})
    ->ArgsProduct({{kLabels, kNearMisses, kLateDigits}, {64 * 1024, 1024 * 1024}})
    ->Unit(benchmark::kMicrosecond);
