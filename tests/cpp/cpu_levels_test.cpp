// The chunk scan and the field conversion at the one level the reader works at.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "text/chunk_scan.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {
namespace {

// A build held to a narrower level holds both to it: a portable build scans portably, an SSE4.1
// one with SSE2. Each pair is a conversion level with the widest scan level it includes.
TEST(CpuLevels, ScanAndConversionAtOneLevel) {
  const std::set<std::string> one_level{"portable+portable", "sse2+portable", "sse2+sse41",
                                        "avx2+avx2", "avx2+avx512"};
  const std::string pair = std::string(scan_level_name(best_scan_level())) + "+" +
                           std::string(simd_level_name(active_simd_level()));
  EXPECT_TRUE(one_level.contains(pair)) << pair;
}

}  // namespace
}  // namespace tarnex
