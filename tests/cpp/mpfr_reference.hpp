// MPFR's correctly rounded reading of decimal texts as binary32: the independent reference that
// the reader's values are compared with.
#pragma once

#include <mpfr.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tarnex::testing {

// Holds binary32's precision and exponent range in MPFR while it lives, and restores MPFR's
// exponent range when it goes.
class Binary32Reference {
 public:
  Binary32Reference();
  ~Binary32Reference();
  Binary32Reference(const Binary32Reference&) = delete;
  Binary32Reference& operator=(const Binary32Reference&) = delete;

  // The bits of the binary32 nearest to the decimal `text` (ties to even, subnormals included),
  // or nothing when MPFR does not read the whole text as a number.
  std::optional<std::uint32_t> bits(const std::string& text);

 private:
  mpfr_exp_t saved_emin_;
  mpfr_exp_t saved_emax_;
  mpfr_t value_;
};

}  // namespace tarnex::testing
