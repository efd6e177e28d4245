// Holds another floating-point environment for a scope: the rounding mode, and the
// flush-to-zero and denormals-are-zero flags of MXCSR.
#pragma once

#include <xmmintrin.h>

#include <cfenv>

namespace tarnex::testing {

class FloatingPointEnvironment {
 public:
  FloatingPointEnvironment(int rounding, unsigned csr_flags)
      : saved_rounding_(std::fegetround()), saved_csr_(_mm_getcsr()) {
    std::fesetround(rounding);
    _mm_setcsr(_mm_getcsr() | csr_flags);
  }
  ~FloatingPointEnvironment() {
    _mm_setcsr(saved_csr_);
    std::fesetround(saved_rounding_);
  }
  FloatingPointEnvironment(const FloatingPointEnvironment&) = delete;
  FloatingPointEnvironment& operator=(const FloatingPointEnvironment&) = delete;

 private:
  int saved_rounding_;
  unsigned saved_csr_;
};

}  // namespace tarnex::testing
