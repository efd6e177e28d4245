#include "mpfr_reference.hpp"

#include <bit>

namespace tarnex::testing {

Binary32Reference::Binary32Reference()
    : saved_emin_(mpfr_get_emin()), saved_emax_(mpfr_get_emax()) {
  mpfr_init2(value_, 24);
  // MPFR's exponent e means 0.1b * 2^e: the smallest subnormal is 2^-149 = 0.1b * 2^-148 and the
  // largest finite value is just below 2^128 = 0.1b * 2^129.
  mpfr_set_emin(-148);
  mpfr_set_emax(128);
}

Binary32Reference::~Binary32Reference() {
  mpfr_clear(value_);
  mpfr_set_emin(saved_emin_);
  mpfr_set_emax(saved_emax_);
}

std::optional<std::uint32_t> Binary32Reference::bits(const std::string& text) {
  char* end = nullptr;
  int ternary = mpfr_strtofr(value_, text.c_str(), &end, 10, MPFR_RNDN);
  if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
  ternary = mpfr_check_range(value_, ternary, MPFR_RNDN);
  mpfr_subnormalize(value_, ternary, MPFR_RNDN);
  return std::bit_cast<std::uint32_t>(mpfr_get_flt(value_, MPFR_RNDN));
}

}  // namespace tarnex::testing
