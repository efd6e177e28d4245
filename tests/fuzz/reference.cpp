#include "reference.hpp"

#include "mpfr_reference.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace tarnex::fuzz {
namespace {

__extension__ typedef unsigned __int128 Position;

// The reader's messages, letter for letter.
constexpr std::string_view kInvalidData =
    "Failed to read line!: Error { kind: InvalidData, message: \"stream did not contain valid "
    "UTF-8\" }";
constexpr std::string_view kNoFirstLine = "Failed ot read line!";
constexpr std::string_view kMissingNameLine = "Failed to read line!";
constexpr std::string_view kBadCount = "The first line should end with the number of parameters:\n";
constexpr std::string_view kNoParameters =
    "The number of parameters must be at least 1, since the time counts as one:\n";
constexpr std::string_view kMissingValueLine = "Error reading line";
constexpr std::string_view kEmptyField = "Could not parse line: ParseFloatError { kind: Empty }";
constexpr std::string_view kInvalidField =
    "Could not parse line: ParseFloatError { kind: Invalid }";

// ------------------------------------------------------------------------------------------
// The field grammar as a transition table over character classes.

enum Class { kDigit, kDot, kExponentLetter, kSign, kOther, kClasses };
enum State {
  kStart, kSigned, kInteger, kLeadingDot, kIntegerDot, kFraction, kExponentMark, kExponentSign,
  kExponentDigits, kDead, kStates
};

constexpr std::array<std::array<State, kClasses>, kStates> kTransitions = {{
    //            digit            dot          e/E            sign           other
    /* start   */ {{kInteger,        kLeadingDot, kDead,         kSigned,       kDead}},
    /* signed  */ {{kInteger,        kLeadingDot, kDead,         kDead,         kDead}},
    /* integer */ {{kInteger,        kIntegerDot, kExponentMark, kDead,         kDead}},
    /* .       */ {{kFraction,       kDead,       kDead,         kDead,         kDead}},
    /* 1.      */ {{kFraction,       kDead,       kExponentMark, kDead,         kDead}},
    /* 1.5     */ {{kFraction,       kDead,       kExponentMark, kDead,         kDead}},
    /* 1e      */ {{kExponentDigits, kDead,       kDead,         kExponentSign, kDead}},
    /* 1e-     */ {{kExponentDigits, kDead,       kDead,         kDead,         kDead}},
    /* 1e-5    */ {{kExponentDigits, kDead,       kDead,         kDead,         kDead}},
    /* dead    */ {{kDead,           kDead,       kDead,         kDead,         kDead}},
}};

constexpr bool accepting(State state) {
  return state == kInteger || state == kIntegerDot || state == kFraction ||
         state == kExponentDigits;
}

Class class_of(char c) {
  if (c >= '0' && c <= '9') return kDigit;
  if (c == '.') return kDot;
  if (c == 'e' || c == 'E') return kExponentLetter;
  if (c == '+' || c == '-') return kSign;
  return kOther;
}

std::string lower_ascii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The exponent's magnitude: its digits up to the first prefix worth 65536 or more. Leading
// zeros add nothing; five significant digits either reach 65536 or six certainly do.
std::int64_t held_magnitude(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string_view::npos) return 0;
  digits.remove_prefix(first);
  const auto value_of = [&](std::size_t count) {
    std::int64_t value = 0;
    for (std::size_t i = 0; i < count && i < digits.size(); ++i) value = value * 10 + (digits[i] - '0');
    return value;
  };
  if (digits.size() <= 5 || value_of(5) >= 65536) return value_of(5);
  return value_of(6);
}

// ------------------------------------------------------------------------------------------
// Lines and characters.

struct RawLine {
  std::string_view text;  // without its terminator
  bool well_formed;
};

std::vector<RawLine> lines_of(std::string_view file) {
  std::vector<RawLine> lines;
  while (!file.empty()) {
    const std::size_t feed = file.find('\n');
    const std::size_t taken = feed == std::string_view::npos ? file.size() : feed + 1;
    std::string_view raw = file.substr(0, taken);
    file.remove_prefix(taken);
    const bool well_formed = is_well_formed_utf8(raw);
    if (raw.ends_with('\n')) {
      raw.remove_suffix(1);
      if (raw.ends_with('\r')) raw.remove_suffix(1);
    }
    lines.push_back({raw, well_formed});
  }
  return lines;
}

constexpr std::array<char32_t, 25> kWhiteSpace = {
    0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

// The character at byte `at` of well-formed text and its length.
char32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  length = sequence_length(byte(0));
  static constexpr std::array<unsigned, 5> kLeadMask = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t code_point = byte(0) & kLeadMask[length];
  for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (byte(i) & 0x3F);
  return code_point;
}

bool white_at(std::string_view text, std::size_t at, std::size_t& length) {
  const char32_t c = decode_at(text, at, length);
  return std::find(kWhiteSpace.begin(), kWhiteSpace.end(), c) != kWhiteSpace.end();
}

std::string decimal(Position value) {
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return text;
}

std::optional<std::uint64_t> count_value(std::string_view token) {
  if (token.starts_with('+')) token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  Position value = 0;
  for (const char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > UINT64_MAX) return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

bool on_boundary(std::string_view line, Position at) {
  if (at == 0 || at == line.size()) return true;
  const auto byte = static_cast<unsigned char>(line[static_cast<std::size_t>(at)]);
  return byte < 0x80 || byte > 0xBF;
}

Expected failure(std::string message) {
  Expected expected;
  expected.message = std::move(message);
  return expected;
}

Expected inside_character(std::string_view which, std::string_view line, Position at) {
  auto from = static_cast<std::size_t>(at);
  while (!on_boundary(line, from)) --from;
  const std::size_t to = from + sequence_length(static_cast<unsigned char>(line[from]));
  Expected expected = failure(std::string(which) + " byte index " + decimal(at) +
                              " is not a char boundary; it is inside ");
  expected.inside_character = true;
  expected.character = std::string(line.substr(from, to - from));
  expected.tail = " (bytes " + decimal(from) + ".." + decimal(to) + " of string)";
  return expected;
}

// The field [start, end) of a value line, or the failure of its cut.
std::optional<Expected> cut_failure(std::string_view line, Position start, Position end) {
  const Position length = line.size();
  const std::string tail = " is out of bounds for string of length " + decimal(length);
  if (start > length) return failure("start byte index " + decimal(start) + tail);
  if (end > length) return failure("end byte index " + decimal(end) + tail);
  if (start > end) {
    return failure("byte range starts at " + decimal(start) + " but ends at " + decimal(end));
  }
  if (!on_boundary(line, start)) return inside_character("start", line, start);
  if (!on_boundary(line, end)) return inside_character("end", line, end);
  return std::nullopt;
}

class Lines {
 public:
  explicit Lines(std::string_view file) : lines_(lines_of(file)) {}
  bool at_end() const { return next_ == lines_.size(); }
  const RawLine& take() { return lines_[next_++]; }

 private:
  std::vector<RawLine> lines_;
  std::size_t next_ = 0;
};

// Reads one value line into `line`; a failure when there is none or it is not UTF-8.
std::optional<Expected> value_line(Lines& lines, std::string_view& line) {
  if (lines.at_end()) return failure(std::string(kMissingValueLine));
  const RawLine& raw = lines.take();
  if (!raw.well_formed) return failure(std::string(kInvalidData));
  line = raw.text;
  return std::nullopt;
}

}  // namespace

NumberText recognise_number(std::string_view text) {
  NumberText number;
  if (text.empty()) {
    number.kind = NumberText::Kind::Empty;
    return number;
  }
  number.negative = text.front() == '-';
  const std::string_view unsigned_text =
      (text.front() == '-' || text.front() == '+') ? text.substr(1) : text;
  const std::string word = lower_ascii(unsigned_text);
  if (word == "inf" || word == "infinity") {
    number.kind = NumberText::Kind::Infinity;
    return number;
  }
  if (word == "nan") {
    number.kind = NumberText::Kind::NaN;
    return number;
  }

  State state = kStart;
  std::int64_t fraction_digits = 0;
  bool negative_exponent = false;
  std::string exponent_digits;
  for (const char c : text) {
    const State next = kTransitions[state][class_of(c)];
    if (next == kDead) return number;  // Invalid
    if (class_of(c) == kDigit) {
      if (next == kExponentDigits) {
        exponent_digits.push_back(c);
      } else {
        number.digits.push_back(c);
        if (next == kFraction) ++fraction_digits;
      }
    }
    if (next == kExponentSign) negative_exponent = c == '-';
    state = next;
  }
  if (!accepting(state)) return number;
  const std::int64_t magnitude = held_magnitude(exponent_digits);
  number.kind = NumberText::Kind::Decimal;
  number.exponent = (negative_exponent ? -magnitude : magnitude) - fraction_digits;
  return number;
}

std::uint32_t binary32_bits(const NumberText& number) {
  const std::uint32_t sign = number.negative ? 0x80000000u : 0u;
  if (number.kind == NumberText::Kind::Infinity) return sign | 0x7F800000u;
  if (number.kind == NumberText::Kind::NaN) return sign | 0x7FC00000u;

  const std::string text = number.digits + "e" + std::to_string(number.exponent);
  static tarnex::testing::Binary32Reference reference;
  const std::optional<std::uint32_t> read = reference.bits(text);
  if (!read) __builtin_trap();  // the model built a bad text
  const std::uint32_t bits = *read;
  return (bits & 0x7FFFFFFFu) | sign;
}

bool is_well_formed_utf8(std::string_view bytes) {
  // Per lead byte: the sequence length and the range allowed for the second byte.
  struct Lead {
    unsigned char low, high;        // lead byte range
    std::size_t length;
    unsigned char second_low, second_high;
  };
  static constexpr std::array<Lead, 9> kLeads = {{
      {0x00, 0x7F, 1, 0, 0},       {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
      {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
      {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
  }};
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const Lead* kind = nullptr;
    for (const Lead& candidate : kLeads) {
      if (lead >= candidate.low && lead <= candidate.high) kind = &candidate;
    }
    if (kind == nullptr || bytes.size() - at < kind->length) return false;
    for (std::size_t i = 1; i < kind->length; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[at + i]);
      const unsigned char low = i == 1 ? kind->second_low : 0x80;
      const unsigned char high = i == 1 ? kind->second_high : 0xBF;
      if (byte < low || byte > high) return false;
    }
    at += kind->length;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t length = 0;
  while (begin < text.size() && white_at(text, begin, length)) begin += length;
  // From the front, remember where the last non-white character ends.
  std::size_t end = begin;
  for (std::size_t at = begin; at < text.size(); at += length) {
    if (!white_at(text, at, length)) end = at + length;
  }
  return text.substr(begin, end - begin);
}

std::optional<std::string_view> last_token(std::string_view text) {
  std::optional<std::string_view> token;
  std::size_t length = 0;
  std::size_t start = std::string_view::npos;
  for (std::size_t at = 0; at <= text.size(); at += length) {
    const bool white = at == text.size() || white_at(text, at, length);
    if (at == text.size()) length = 1;
    if (white && start != std::string_view::npos) {
      token = text.substr(start, at - start);
      start = std::string_view::npos;
    } else if (!white && start == std::string_view::npos) {
      start = at;
    }
  }
  return token;
}

Expected expected_outcome(std::string_view file, std::uint64_t n_digits) {
  Lines lines(file);
  if (lines.at_end()) return failure(std::string(kNoFirstLine));
  const RawLine& first = lines.take();
  if (!first.well_formed) return failure(std::string(kInvalidData));
  const std::string quoted = "'" + std::string(first.text) + "'";
  const std::optional<std::string_view> token = last_token(first.text);
  std::uint64_t parameters = 0;
  if (token) {
    const std::optional<std::uint64_t> count = count_value(*token);
    if (!count) return failure(std::string(kBadCount) + quoted);
    parameters = *count;
  }
  if (parameters == 0) return failure(std::string(kNoParameters) + quoted);

  for (std::uint64_t name = 0; name < parameters; ++name) {
    if (lines.at_end()) return failure(std::string(kMissingNameLine));
    if (!lines.take().well_formed) return failure(std::string(kInvalidData));
  }

  Expected expected;
  expected.columns.resize(parameters - 1);
  while (!lines.at_end()) {
    if (!lines.take().well_formed) return failure(std::string(kInvalidData));  // the lead line
    std::string_view line;
    for (std::uint64_t parameter = 0; parameter < parameters; ++parameter) {
      if (parameter % 10 == 0) {
        if (auto missing = value_line(lines, line)) return *missing;
      }
      const Position start = Position{parameter % 10} * n_digits;
      const Position end = start + n_digits;
      if (auto failed = cut_failure(line, start, end)) return *failed;
      const NumberText number = recognise_number(
          trimmed(line.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(n_digits))));
      if (number.kind == NumberText::Kind::Empty) return failure(std::string(kEmptyField));
      if (number.kind == NumberText::Kind::Invalid) return failure(std::string(kInvalidField));
      const std::uint32_t bits = binary32_bits(number);
      (parameter == 0 ? expected.time : expected.columns[parameter - 1]).push_back(bits);
    }
  }
  expected.ok = true;
  return expected;
}

bool message_matches(const Expected& expected, const std::string& message, std::string& why) {
  if (!expected.inside_character) {
    if (message == expected.message) return true;
    why = "expected message: " + expected.message;
    return false;
  }
  std::string_view rest = message;
  const auto take = [&](std::string_view part) {
    if (!rest.starts_with(part)) return false;
    rest.remove_prefix(part.size());
    return true;
  };
  std::size_t length = 0;
  const char32_t code_point = decode_at(expected.character, 0, length);
  std::string escaped = "\\u{";
  for (int shift = 20; shift >= 0; shift -= 4) {
    const unsigned nibble = (code_point >> shift) & 0xF;
    if (nibble != 0 || escaped.size() > 3 || shift == 0) escaped.push_back("0123456789abcdef"[nibble]);
  }
  escaped += "}";
  const bool ok = take(expected.message) && take("'") &&
                  (take(expected.character) || take(escaped)) && take("'") &&
                  take(expected.tail) && rest.empty();
  if (!ok) why = "expected message: " + expected.message + "'<" + expected.character + ">'" + expected.tail;
  return ok;
}

}  // namespace tarnex::fuzz
