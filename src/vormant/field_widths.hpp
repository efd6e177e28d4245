// The widths a field of a plot file has: 12 bytes in files of 6 significant digits, 15 in files
// of 9, which give every binary32 back as it was.
#pragma once

#include <cstdint>

namespace tarnex::vormant {

inline constexpr std::uint64_t kFieldWidths[] = {12, 15};

}  // namespace tarnex::vormant
