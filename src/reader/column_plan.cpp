#include "reader/column_plan.hpp"

#include <algorithm>
#include <map>

#include "reader/field_width.hpp"

namespace tarnex {
namespace {

std::uint64_t fields_on_line(std::uint64_t parameters, std::uint64_t line) noexcept {
  return std::min(kFieldsPerLine, parameters - line * kFieldsPerLine);
}

}  // namespace

ColumnPlan ColumnPlan::all(std::uint64_t parameters) {
  ColumnPlan plan;
  plan.takes_all_ = true;
  plan.row_width_ = static_cast<std::size_t>(parameters);
  for (std::uint64_t line = 0; line * kFieldsPerLine < parameters; ++line) {
    plan.lines_.push_back({.index = line,
                           .fields = fields_on_line(parameters, line),
                           .whole = true,
                           .first_column = static_cast<std::size_t>(line * kFieldsPerLine),
                           .picks = {}});
  }
  return plan;
}

ColumnPlan ColumnPlan::chosen(std::uint64_t parameters, std::span<const std::uint64_t> chosen) {
  ColumnPlan plan;
  plan.row_width_ = chosen.size() + 1;
  // By line, then by field, so that a line's fields are taken in the order a full read meets
  // them and the first failure is the same.
  std::map<std::uint64_t, std::vector<Pick>> by_line;
  by_line[0].push_back({.field = 0, .column = 0});
  for (std::size_t column = 0; column < chosen.size(); ++column) {
    const std::uint64_t parameter = chosen[column];
    by_line[parameter / kFieldsPerLine].push_back(
        {.field = parameter % kFieldsPerLine, .column = column + 1});
  }
  for (auto& [line, picks] : by_line) {
    std::stable_sort(picks.begin(), picks.end(),
                     [](const Pick& a, const Pick& b) { return a.field < b.field; });
    const std::uint64_t fields = fields_on_line(parameters, line);
    bool whole = picks.size() == fields;
    for (std::size_t i = 0; whole && i < picks.size(); ++i) {
      whole = picks[i].field == i && picks[i].column == picks[0].column + i;
    }
    plan.lines_.push_back({.index = line,
                           .fields = fields,
                           .whole = whole,
                           .first_column = picks[0].column,
                           .picks = std::move(picks)});
  }
  return plan;
}

}  // namespace tarnex
