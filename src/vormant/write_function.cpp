#include "vormant/write_function.hpp"

#include <cerrno>
#include <cstdint>
#include <optional>

#include "reader/thread_split.hpp"
#include "vormant/float_block.hpp"
#include "vormant/guarded.hpp"
#include "vormant/module_support.hpp"
#include "vormant/step_writer.hpp"

namespace tarnex::vormant {
namespace {

// A block of at least this many values is formatted by every processor this process may use.
constexpr std::uint64_t kSplitFrom = std::uint64_t{1} << 20;

constexpr const char* kValuesLayout =
    "values must be a (steps, parameters) buffer of format 'f' with at least one parameter";

bool values_argument(PyObject* object, HeldFloatBlock& held, StepBlock& block) noexcept {
  if (!held.take(object, "values", false)) return false;
  if (held.columns() < 1) {
    PyErr_SetString(PyExc_TypeError, kValuesLayout);
    return false;
  }
  block = StepBlock{held.data(), held.columns(), held.rows()};
  return true;
}

bool count_argument(PyObject* object, const char* what, std::uint64_t least,
                    std::uint64_t& count) noexcept {
  count = PyLong_AsUnsignedLongLong(object);
  if (count == static_cast<std::uint64_t>(-1) && PyErr_Occurred() != nullptr) return false;
  if (count >= least) return true;
  PyErr_Format(PyExc_ValueError, "%s must be at least %llu", what,
               static_cast<unsigned long long>(least));
  return false;
}

bool fixed_width_argument(PyObject* object, std::uint64_t& width) noexcept {
  std::optional<std::uint64_t> given;
  if (!width_argument(object, given)) return false;
  if (given) {
    width = *given;
    return true;
  }
  PyErr_SetString(PyExc_ValueError, "n_digits must be 12 or 15 for writing");
  return false;
}

}  // namespace

PyObject* write_steps(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  int fd = -1;
  HeldFloatBlock held;
  StepBlock block{};
  std::uint64_t first_number = 0;
  std::uint64_t width = 0;
  std::uint64_t threads = 0;
  if (!arity("write_steps", nargs, 5) || !fd_argument(args[0], fd) ||
      !values_argument(args[1], held, block) ||
      !count_argument(args[2], "first_number", 0, first_number) ||
      !fixed_width_argument(args[3], width) || !count_argument(args[4], "threads", 0, threads)) {
    return nullptr;
  }
  if (threads == 0) {
    threads = block.steps * block.parameters >= kSplitFrom ? usable_processors() : 1;
  }
  const auto outcome = without_interpreter_lock([&] {
    return guarded([&] {
      return vormant::write_steps(fd, block, first_number, width, at_most_usable(threads));
    });
  });
  if (const int* failure = std::get_if<int>(&outcome)) {
    if (*failure == 0) Py_RETURN_NONE;
    errno = *failure;
    return PyErr_SetFromErrno(PyExc_OSError);
  }
  return raise_outcome(outcome, "");
}

}  // namespace tarnex::vormant
