// Turning arbitrary bytes into UTF-8 text for messages.
#pragma once

#include <string>
#include <string_view>

namespace tarnex {

// `bytes` with every maximal ill-formed subsequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace tarnex
