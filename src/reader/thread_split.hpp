// One job split over threads: consecutive parts of a range of rows, each on a thread of its
// own, with the failure of the earliest failing part the job's failure.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tarnex {

// The processors this process may run on (at least 1).
std::size_t usable_processors() noexcept;

// `threads`, but no more than the processors this process may use: a thread beyond them only
// costs its setting up and its share of the bookkeeping. 0 stays 0.
std::size_t at_most_usable(std::uint64_t threads) noexcept;

// Calls part(begin, end, stop) for `parts` consecutive parts of [0, count) at once, the first
// on the calling thread, and returns when all have ended. When parts fail, the exception of the
// earliest one is rethrown, so the job fails as one thread going through [0, count) in order
// would; `stop` is set for the parts after a failed one, which may then give up.
void run_split(std::size_t count, std::size_t parts,
               const std::function<void(std::size_t begin, std::size_t end,
                                        const std::atomic<bool>& stop)>& part);

}  // namespace tarnex
