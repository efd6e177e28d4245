#include "vormant/compare_function.hpp"

#include <new>
#include <vector>

#include "vormant/compare_rows.hpp"
#include "vormant/float_block.hpp"
#include "vormant/module_support.hpp"

namespace tarnex::vormant {
namespace {

constexpr const char* kRuleShape =
    "rules must be a tuple of (reference column, candidate column, rtol, atol) tuples";

// The rows of a held block, as the comparison reads them.
FloatRows rows_of(const HeldFloatBlock& block) noexcept {
  return FloatRows{block.data(), block.rows(), block.columns()};
}

// A rule's column: one of the `width` columns of its piece.
bool column_of(PyObject* item, std::size_t width, std::size_t& column) noexcept {
  if (!integer_argument(item, "a rule's column", column)) return false;
  if (column < width) return true;
  PyErr_Format(PyExc_IndexError, "column %zu out of range: the piece has %zu", column, width);
  return false;
}

bool rule_of(PyObject* item, FloatRows reference, FloatRows candidate, ColumnRule& rule) noexcept {
  if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 4) {
    PyErr_SetString(PyExc_TypeError, kRuleShape);
    return false;
  }
  if (!column_of(PyTuple_GET_ITEM(item, 0), reference.width, rule.reference) ||
      !column_of(PyTuple_GET_ITEM(item, 1), candidate.width, rule.candidate)) {
    return false;
  }
  rule.rtol = PyFloat_AsDouble(PyTuple_GET_ITEM(item, 2));
  if (rule.rtol == -1.0 && PyErr_Occurred() != nullptr) return false;
  rule.atol = PyFloat_AsDouble(PyTuple_GET_ITEM(item, 3));
  return !(rule.atol == -1.0 && PyErr_Occurred() != nullptr);
}

bool rules_argument(PyObject* object, FloatRows reference, FloatRows candidate,
                    std::vector<ColumnRule>& rules) noexcept {
  if (!PyTuple_Check(object)) {
    PyErr_SetString(PyExc_TypeError, kRuleShape);
    return false;
  }
  try {
    rules.resize(static_cast<std::size_t>(PyTuple_GET_SIZE(object)));
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
  for (std::size_t k = 0; k < rules.size(); ++k) {
    if (!rule_of(PyTuple_GET_ITEM(object, k), reference, candidate, rules[k])) return false;
  }
  return true;
}

PyObject* row_or_none(std::int64_t row) noexcept {
  if (row < 0) return Py_NewRef(Py_None);
  return PyLong_FromLongLong(row);
}

PyObject* tally_tuple(const ColumnTally& tally) noexcept {
  return Py_BuildValue("(ddKNNddd)", tally.max_abs, tally.max_rel,
                       static_cast<unsigned long long>(tally.failures),
                       row_or_none(tally.first_row), row_or_none(tally.worst_row),
                       tally.worst.score, tally.worst.rel, tally.worst.abs);
}

PyObject* progress_result(const PieceProgress& progress,
                          const std::vector<ColumnTally>& tallies) noexcept {
  PyObject* found = tuple_of(tallies, tally_tuple);
  if (found == nullptr) return nullptr;
  return Py_BuildValue("(nnNNN)", static_cast<Py_ssize_t>(progress.consumed),
                       static_cast<Py_ssize_t>(progress.uncovered),
                       row_or_none(progress.reference_back), row_or_none(progress.candidate_back),
                       found);
}

// The rows the difference block must have room for: every reference row from `first` on.
bool out_argument(PyObject* object, HeldFloatBlock& out, std::size_t needed_rows, std::size_t width,
                  DifferenceRows& rows) noexcept {
  if (object == Py_None) return true;
  if (!out.take(object, "out", true)) return false;
  const FloatRows shape = rows_of(out);
  if (shape.width != width || shape.rows < needed_rows) {
    PyErr_Format(PyExc_ValueError, "out must have %zu columns and at least %zu rows", width,
                 needed_rows);
    return false;
  }
  rows = DifferenceRows{out.data(), shape.rows};
  return true;
}

// compare_piece(reference, candidate, rules, first, final, out, /)
//   -> (consumed, uncovered, reference goes back, candidate goes back, tallies)
PyObject* compare_piece(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("compare_piece", nargs, 6)) return nullptr;
  HeldFloatBlock reference;
  HeldFloatBlock candidate;
  HeldFloatBlock out;
  std::vector<ColumnRule> rules;
  if (!reference.take(args[0], "reference", false) ||
      !candidate.take(args[1], "candidate", false) ||
      !rules_argument(args[2], rows_of(reference), rows_of(candidate), rules)) {
    return nullptr;
  }
  std::size_t start = 0;
  if (!integer_argument(args[3], "first", start)) return nullptr;
  if (start > rows_of(reference).rows) {
    return PyErr_Format(PyExc_ValueError, "first must be a row of the reference piece");
  }
  const int final = args[4] == Py_None ? -1 : PyObject_IsTrue(args[4]);
  if (final == -1 && PyErr_Occurred() != nullptr) return nullptr;
  DifferenceRows written{nullptr, 0};
  if (!out_argument(args[5], out, rows_of(reference).rows - start, rules.size() + 1, written)) {
    return nullptr;
  }
  std::vector<ColumnTally> tallies;
  try {
    tallies.resize(rules.size());
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  PyThreadState* saved = PyEval_SaveThread();
  const PieceProgress progress =
      final < 0
          ? compare_steps(rows_of(reference), rows_of(candidate), start, rules, tallies, written)
          : compare_times(rows_of(reference), rows_of(candidate), start, final != 0, rules, tallies,
                          written);
  PyEval_RestoreThread(saved);
  return progress_result(progress, tallies);
}

}  // namespace

PyMethodDef compare_methods[] = {
    {"compare_piece", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&compare_piece)),
     METH_FASTCALL,
     "compare_piece(reference, candidate, rules, first, final, out, /)\n--\n\n"
     "Compares reference rows from `first` on with the candidate piece: step by step (`final`\n"
     "None) or at the reference's times. Returns (consumed, uncovered, reference goes back,\n"
     "candidate goes back, tallies)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarnex::vormant
