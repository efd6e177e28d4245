// A test build may force a narrower level (TARNEX_FORCED_SIMD_LEVEL, the name of a CpuLevel, set
// by the CMake option TARNEX_FORCE_SIMD_LEVEL) so that the Python suite runs on each kernel; the
// shipped build never sets it, and nothing at run time changes the choice.
#include "text/cpu_levels.hpp"

#include <algorithm>

namespace tarnex {
namespace {

CpuLevel detect_level() noexcept {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse4.1")) return CpuLevel::Sse2;
  // libgcc's check includes the operating system's saving of the 32-byte registers.
  if (!__builtin_cpu_supports("avx2")) return CpuLevel::Sse41;
  // Likewise for the 64-byte registers and the mask registers.
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")) {
    return CpuLevel::Avx512;
  }
  return CpuLevel::Avx2;
#else
  return CpuLevel::Portable;
#endif
}

}  // namespace

CpuLevel processor_level() noexcept {
  static const CpuLevel detected = detect_level();
  return detected;
}

CpuLevel chosen_level() noexcept {
#ifdef TARNEX_FORCED_SIMD_LEVEL
  return std::min(processor_level(), CpuLevel::TARNEX_FORCED_SIMD_LEVEL);
#else
  return processor_level();
#endif
}

}  // namespace tarnex
