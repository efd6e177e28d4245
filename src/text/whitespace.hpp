// Whitespace: the 25 code points of Unicode's White_Space property, for splitting and trimming.
#pragma once

#include <string_view>
#include <vector>

namespace tarnex {

bool is_whitespace(char32_t code_point) noexcept;

// The maximal runs of non-whitespace characters of valid UTF-8 `text`, in order.
std::vector<std::string_view> split_whitespace(std::string_view text);

// `text` without whitespace at either end.
std::string_view trim_whitespace(std::string_view text) noexcept;

}  // namespace tarnex
