#include "reader/read_failure.hpp"

#include <cstdlib>

#include "reader/messages.hpp"
#include "text/numbers.hpp"

namespace tarnex {

std::string_view kind_name(FailureKind kind) noexcept {
  switch (kind) {
    case FailureKind::CannotOpen: return "CannotOpen";
    case FailureKind::ReadError: return "ReadError";
    case FailureKind::InvalidUtf8: return "InvalidUtf8";
    case FailureKind::NoFirstLine: return "NoFirstLine";
    case FailureKind::BadCount: return "BadCount";
    case FailureKind::ZeroCount: return "ZeroCount";
    case FailureKind::MissingNameLine: return "MissingNameLine";
    case FailureKind::EndsInsideTimeStep: return "EndsInsideTimeStep";
    case FailureKind::FieldCut: return "FieldCut";
    case FailureKind::FieldEmpty: return "FieldEmpty";
    case FailureKind::FieldInvalid: return "FieldInvalid";
    case FailureKind::WidthUnknown: return "WidthUnknown";
  }
  return "?";
}

std::string ReadFailure::tarnex_message() const {
  switch (kind) {
    case FailureKind::CannotOpen:
      return messages::with_description(messages::kPlotFileNotFound, io_error->describe());
    case FailureKind::ReadError:
    case FailureKind::InvalidUtf8:
      return messages::with_description(messages::kFailedToReadLine, io_error->describe());
    case FailureKind::NoFirstLine:
      return std::string(messages::kNoFirstLine);
    case FailureKind::BadCount:
      return messages::quoting_first_line(messages::kBadParameterCount, line_text);
    case FailureKind::ZeroCount:
      return messages::quoting_first_line(messages::kNoParameters, line_text);
    case FailureKind::MissingNameLine:
      return std::string(messages::kFailedToReadLine);
    case FailureKind::EndsInsideTimeStep:
      return std::string(messages::kErrorReadingLine);
    case FailureKind::FieldCut:
      return failed_cut_text(line_text, start, end);
    case FailureKind::FieldEmpty:
      return messages::with_description(messages::kCouldNotParseLine,
                                        describe_parse_error(ParseFloatErrorKind::Empty));
    case FailureKind::FieldInvalid:
      return messages::with_description(messages::kCouldNotParseLine,
                                        describe_parse_error(ParseFloatErrorKind::Invalid));
    case FailureKind::WidthUnknown:
      break;
  }
  return std::string(messages::kWidthUnknown);
}

void report_failure(FailurePolicy& policy, const ReadFailure& failure,
                    std::source_location where) {
  policy.fail(failure, where);
  std::abort();  // a policy that returns would let the reader run on past its failure
}

}  // namespace tarnex
