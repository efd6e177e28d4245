// Every way a read can end, as a value: what crosses from the reader's threads and from code
// that throws to the functions the interpreter calls, which must not throw.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <type_traits>
#include <variant>

#include "vormant/argument_fault.hpp"
#include "vormant/plot_file_failure.hpp"

namespace tarnex::vormant {

struct OutOfMemory {};

// A C++ exception from outside the reader's failures: its text.
struct UnexpectedFailure {
  std::string what;
};

template <class Result>
using Outcome =
    std::variant<Result, PlotFileFailure, OutOfMemory, UnexpectedFailure, ArgumentFault>;

struct Done {};  // the result of work that returns nothing

// Runs `work` and catches whatever it throws.
template <class Work>
auto guarded(Work&& work) noexcept {
  using Returned = std::invoke_result_t<Work&>;
  using Result = std::conditional_t<std::is_void_v<Returned>, Done, Returned>;
  try {
    if constexpr (std::is_void_v<Returned>) {
      work();
      return Outcome<Result>(Done{});
    } else {
      return Outcome<Result>(work());
    }
  } catch (PlotFileFailure& failure) {
    return Outcome<Result>(std::move(failure));
  } catch (ArgumentFault& fault) {
    return Outcome<Result>(std::move(fault));
  } catch (const std::bad_alloc&) {
    return Outcome<Result>(OutOfMemory{});
  } catch (const std::exception& error) {
    return Outcome<Result>(UnexpectedFailure{error.what()});
  } catch (...) {
    return Outcome<Result>(UnexpectedFailure{"unknown exception"});
  }
}

}  // namespace tarnex::vormant
