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
constexpr std::uint64_t kSplitFromValues = std::uint64_t{1} << 20;

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

}  // namespace

PyObject* write_steps(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  int fd = -1;
  HeldFloatBlock held;
  StepBlock block{};
  long long first_number = 0;
  std::optional<std::uint64_t> width;
  long long threads = 0;
  if (!arity("write_steps", nargs, 5) || !fd_argument(args[0], fd) ||
      !values_argument(args[1], held, block) ||
      !integer_argument(args[2], "first_number", first_number) ||
      !width_argument(args[3], width, true) || !integer_argument(args[4], "threads", threads)) {
    return nullptr;
  }
  auto parts = static_cast<std::uint64_t>(threads);
  if (parts == 0)
    parts = block.steps * block.parameters >= kSplitFromValues ? usable_processors() : 1;
  const auto outcome = without_interpreter_lock([&] {
    return guarded([&] {
      return vormant::write_steps(fd, block, static_cast<std::uint64_t>(first_number), *width,
                                  at_most_usable(parts));
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
