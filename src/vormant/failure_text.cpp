#include "vormant/failure_text.hpp"

#include <algorithm>

#include "reader/field_width.hpp"
#include "text/cut.hpp"

namespace tarnex::vormant {
namespace {

std::string number(std::uint64_t value) {
  return decimal_text(value);
}

// "12 or 15": the field widths a plot file may have.
std::string width_choices() {
  return number(kFieldWidths[0]) + " or " + number(kFieldWidths[1]);
}

std::string quoted(std::string_view text) {
  std::string out = "'";
  out.append(text).append("'");
  return out;
}

std::string at_line(const ReadFailure& failure) {
  return ", line " + number(failure.line) + ": ";
}

// " (parameter 'PRESSURE', column 2)", or " (column 2)" while its name is unknown.
std::string parameter_of(const ReadFailure& failure, std::span<const std::string> names) {
  std::string text = " (";
  if (failure.parameter < names.size()) {
    text.append("parameter ").append(quoted(names[failure.parameter])).append(", ");
  }
  return text.append("column ").append(number(failure.parameter)).append(")");
}

std::string field_cut_text(const ReadFailure& failure) {
  const std::string field = "field " + number(failure.field);
  const std::string bytes =
      "bytes " + decimal_text(failure.start) + " to " + decimal_text(failure.end);
  if (failure.end > failure.line_text.size()) {
    return "value line is " + number(failure.line_text.size()) + " bytes long, too short for " +
           field + " (" + bytes + ")";
  }
  return field + " (" + bytes +
         ") splits a character: " + failed_cut_text(failure.line_text, failure.start, failure.end);
}

std::string count_text(const ReadFailure& failure) {
  if (failure.kind == FailureKind::BadCount || failure.text.empty()) {
    return "the first line must end with the number of parameters, found " +
           (failure.text.empty() ? std::string("nothing") : quoted(failure.text));
  }
  return "the number of parameters must be at least 1 (the time counts as one), found " +
         quoted(failure.text);
}

std::string width_text(const ReadFailure& failure) {
  std::string text = "the field width cannot be told: ";
  if (failure.fields_on_line == 0) {
    text.append("the file has no time steps");
  } else if (std::ranges::any_of(kFieldWidths, [&](std::uint64_t width) {
               return failure.line_text.size() == failure.fields_on_line * width;
             })) {
    text.append("the first value line is ")
        .append(number(failure.line_text.size()))
        .append(" bytes long, but its fields do not read as numbers at one width alone");
  } else {
    text.append("the first value line is ")
        .append(number(failure.line_text.size()))
        .append(" bytes long, not ")
        .append(number(failure.fields_on_line))
        .append(failure.fields_on_line == 1 ? " field" : " fields")
        .append(" of ")
        .append(width_choices())
        .append(" bytes");
  }
  return text.append("; pass n_digits=").append(width_choices());
}

}  // namespace

std::string failure_text(const ReadFailure& failure, std::span<const std::string> names) {
  switch (failure.kind) {
    case FailureKind::CannotOpen:
    case FailureKind::ReadError:
      return ": " + failure.io_error->display();
    case FailureKind::InvalidUtf8:
      return at_line(failure) + "the line is not valid UTF-8";
    case FailureKind::NoFirstLine:
      return at_line(failure) +
             "the file is empty; its first line must end with the number of parameters";
    case FailureKind::BadCount:
    case FailureKind::ZeroCount:
      return at_line(failure) + count_text(failure);
    case FailureKind::MissingNameLine:
      return ": the file ends after " + number(failure.parameter) + " of its " +
             number(failure.parameters) + " parameter name lines (line " + number(failure.line) +
             " expected)";
    case FailureKind::EndsInsideTimeStep:
      return ": the file ends inside the time step that starts on line " +
             number(failure.step_line) + " (line " + number(failure.line) + " expected)";
    case FailureKind::FieldCut:
      return at_line(failure) + field_cut_text(failure) + parameter_of(failure, names);
    case FailureKind::FieldEmpty:
      return at_line(failure) + "field " + number(failure.field) + " is blank" +
             parameter_of(failure, names);
    case FailureKind::FieldInvalid:
      return at_line(failure) + "field " + number(failure.field) + " (" + quoted(failure.text) +
             ") is not a number" + parameter_of(failure, names);
    case FailureKind::WidthUnknown:
      return at_line(failure) + width_text(failure);
  }
  return at_line(failure) + "the file cannot be read";
}

}  // namespace tarnex::vormant
