// The reader's fatal messages.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::messages {

inline constexpr std::string_view kPlotFileNotFound = "Plot file not found!";
inline constexpr std::string_view kFailedToReadLine = "Failed to read line!";
// The header's own wording for a file with no first line.
inline constexpr std::string_view kNoFirstLine = "Failed ot read line!";
inline constexpr std::string_view kBadParameterCount =
    "The first line should end with the number of parameters:\n";
inline constexpr std::string_view kNoParameters =
    "The number of parameters must be at least 1, since the time counts as one:\n";
inline constexpr std::string_view kBadCountLineStart = "Error: '";
inline constexpr std::string_view kBadCountLineEnd = "' is not a valid number of parameters!\n";
inline constexpr std::string_view kErrorReadingLine = "Error reading line";
inline constexpr std::string_view kCouldNotParseLine = "Could not parse line";
// Never tarnex's: it always names the width.
inline constexpr std::string_view kWidthUnknown = "the field width cannot be told from the file";

// "<leading>: <description>", the shape of every message that names a lower-level error.
inline std::string with_description(std::string_view leading, std::string_view description) {
  std::string message;
  message.reserve(leading.size() + 2 + description.size());
  message.append(leading).append(": ").append(description);
  return message;
}

// "<leading>\n'<first line>'"
inline std::string quoting_first_line(std::string_view leading, std::string_view first_line) {
  std::string message(leading);
  message.append("'").append(first_line).append("'");
  return message;
}

}  // namespace tarnex::messages
