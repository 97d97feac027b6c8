// The marker search's vector code, at each width this processor runs: every
// offset is found exactly as a byte-by-byte search finds it, with and without
// a marker map, and the one-pass sum and map agree with CHKSUM's sum and with
// the map's definition, whatever the size and wherever the markers lie.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "chksum/chksum.h"
#include "navo/fw_version/marker_scan.h"

namespace {

std::vector<MarkerVectors> Widths() {
  std::vector<MarkerVectors> w{MarkerVectors::Bytes16};
  if (BestMarkerVectors() == MarkerVectors::Bytes32) w.push_back(MarkerVectors::Bytes32);
  return w;
}

// Bytes rich in the markers' own: every block has near misses.
std::unique_ptr<uint8_t[]> Filler(std::mt19937 &rng, std::size_t size) {
  // Exactly sized, so that the sanitizers see a read past the end.
  auto b = std::make_unique<uint8_t[]>(size + 1);
  static const char kAlphabet[] = "$CPDMN2$D2\xFF";
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(kAlphabet[rng() % 11]);
  return b;
}

std::vector<uint64_t> ReferenceMap(const uint8_t *d, uint32_t size) {
  std::vector<uint64_t> map(MarkerMapWords(size), 0);
  for (uint64_t p = 0; p + 3 < size; ++p)
    if (d[p] == '$' && (d[p + 3] == 'D' || d[p + 3] == '2')) map[p / 4096] |= uint64_t{1} << (p / 64 % 64);
  return map;
}

bool ReferenceFind(const uint8_t *d, uint32_t size, uint32_t from, uint32_t limit, const char *m, uint32_t *at) {
  for (uint64_t p = from; p < limit && p + 4 <= size; ++p) {
    if (std::memcmp(d + p, m, 4) == 0) {
      *at = static_cast<uint32_t>(p);
      return true;
    }
  }
  return false;
}

TEST(FwverMarkerScan, SumAndMapAgreeWithTheirDefinitionsAtEverySize) {
  std::mt19937 rng(5150);
  std::vector<uint32_t> sizes;
  for (uint32_t s = 0; s <= 300; ++s) sizes.push_back(s);
  for (uint32_t s : {4095u, 4096u, 4099u, 4163u, 262144u, 262147u}) sizes.push_back(s);
  for (MarkerVectors width : Widths()) {
    for (uint32_t size : sizes) {
      SCOPED_TRACE(std::to_string(size) + " bytes, width " + std::to_string(static_cast<int>(width)));
      auto b = Filler(rng, size);
      // Words past the map's end must stay as they were.
      std::vector<uint64_t> map(MarkerMapWords(size) + 1, 0x5A5A5A5A5A5A5A5Aull);
      const uint32_t start = static_cast<uint32_t>(rng());
      const uint32_t sum = SumAndMapMarkersUsing(width, b.get(), size, start, map.data());
      ASSERT_EQ(sum, chksum::ContinueByteSum(start, b.get(), size));
      ASSERT_EQ(map.back(), 0x5A5A5A5A5A5A5A5Aull);
      map.pop_back();
      ASSERT_EQ(map, ReferenceMap(b.get(), size));
    }
  }
}

TEST(FwverMarkerScan, FindsWhatTheByteSearchFindsWithAndWithoutAMap) {
  std::mt19937 rng(8086);
  const char *markers[] = {"$CPD", "$MN2", "FTPR"};  // the last is never mapped
  for (MarkerVectors width : Widths()) {
    for (int round = 0; round < 4000; ++round) {
      const uint32_t size = rng() % (round % 10 == 0 ? 5000 : 400);
      auto b = Filler(rng, size);
      // A marker planted across the 64-byte blocks' seams now and then.
      if (size >= 4 && rng() % 2) std::memcpy(b.get() + (rng() % (size - 3)), markers[rng() % 3], 4);
      const std::vector<uint64_t> map = ReferenceMap(b.get(), size);
      const char(&marker)[5] = reinterpret_cast<const char(&)[5]>(*markers[round % 3]);
      const uint32_t from = size > 0 ? rng() % (size + 8) : 0;
      const uint32_t limit = from + rng() % (size + 8);
      uint32_t want = 0, plain = 1, mapped = 2;
      const bool found = ReferenceFind(b.get(), size, from, limit, markers[round % 3], &want);
      ASSERT_EQ(FindMarkerUsing(width, b.get(), size, from, limit, marker, &plain), found) << round;
      ASSERT_EQ(FindMarkerUsing(width, b.get(), size, from, limit, marker, &mapped, map.data()), found) << round;
      if (found) {
        ASSERT_EQ(plain, want) << round;
        ASSERT_EQ(mapped, want) << round;
      }
    }
  }
}

}  // namespace
