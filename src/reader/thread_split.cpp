#include "reader/thread_split.hpp"

#include <algorithm>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

namespace tarnex {
namespace {

// What the parts share: the flags that tell each to give up, the exceptions of those that
// failed.
struct SplitState {
  explicit SplitState(std::size_t parts) : stop(parts), failures(parts) {}

  void fail(std::size_t part, std::exception_ptr failure) noexcept {
    failures[part] = std::move(failure);
    for (std::size_t later = part + 1; later < stop.size(); ++later) {
      stop[later].store(true, std::memory_order_relaxed);
    }
  }

  std::vector<std::atomic<bool>> stop;
  std::vector<std::exception_ptr> failures;
};

}  // namespace

std::size_t usable_processors() noexcept {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    return std::max(1, CPU_COUNT(&set));
  }
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

std::size_t at_most_usable(std::uint64_t threads) noexcept {
  return static_cast<std::size_t>(std::min<std::uint64_t>(threads, usable_processors()));
}

void run_split(std::size_t count, std::size_t parts,
               const std::function<void(std::size_t, std::size_t, const std::atomic<bool>&)>& part) {
  parts = std::clamp<std::size_t>(parts, 1, std::max<std::size_t>(count, 1));
  SplitState state(parts);
  auto run = [&](std::size_t index) noexcept {
    const std::size_t begin = count * index / parts;
    const std::size_t end = count * (index + 1) / parts;
    try {
      part(begin, end, state.stop[index]);
    } catch (...) {
      state.fail(index, std::current_exception());
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(parts - 1);
  std::size_t next = 1;
  try {
    for (; next < parts; ++next) threads.emplace_back(run, next);
  } catch (const std::system_error&) {
    // No more threads to be had: the parts left run on this one.
  }
  run(0);
  for (std::size_t index = next; index < parts; ++index) run(index);
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& failure : state.failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace tarnex
