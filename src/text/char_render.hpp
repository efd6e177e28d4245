// How a character is shown inside a failed-cut text.
#pragma once

#include <string>

namespace tarnex {

// The character between apostrophes: itself ('é'), or escaped ('\u{a0}') when it is a
// control, private-use, whitespace, Grapheme_Extend, Default_Ignorable, format (Cf) or
// unassigned (Cn) code point.
std::string render_char(char32_t code_point);

// Whether render_char escapes the code point.
bool is_escaped_when_rendered(char32_t code_point) noexcept;

}  // namespace tarnex
