// Time steps of a plot file copied into another as they are: each lead line written anew with
// the step's new number, the value lines byte for byte, none of their values converted. What
// `vormant merge` and `vormant cut` write when the output keeps the source's fields and width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/block_index.hpp"
#include "reader/read_failure.hpp"

namespace tarnex::vormant {

// Steps first .. first + count - 1 of the file `source`, which `index` indexes, written to the
// file descriptor `target`, numbered from `first_number` on. A step is copied as the index
// found it, however irregular its lines: reading it is what checks its fields. The last value
// line of the file's last step gets the line feed the end of the file stood for. Returns 0, or
// the errno of the write that failed; a failure to read the source goes to `policy`. Throws
// std::bad_alloc when its buffers cannot be had.
int copy_steps(int source, const BlockIndex& index, std::size_t first, std::size_t count,
               int target, std::uint64_t first_number, FailurePolicy& policy);

}  // namespace tarnex::vormant
