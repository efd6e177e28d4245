// The Arrow schema of a plot: a struct with one float32 field per parameter, the time first,
// named by the name lines, and the plot's key-value metadata on the struct.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "vormant/arrow_abi.hpp"

namespace tarnex::vormant {

struct ColumnLayout {
  std::vector<std::string> names;  // UTF-8, no NUL
  std::string metadata;            // encoded as the interface's metadata field; empty for none
};

// The interface's encoding of key-value pairs: their count, then each key and value after its
// length, every number a native-endian int32. Throws std::bad_alloc.
std::string encode_metadata(const std::vector<std::pair<std::string, std::string>>& pairs);

// Fills `out` with the layout's schema, every node owning copies of its texts. Throws
// std::bad_alloc, with `out` untouched and nothing left allocated.
void export_schema(const ColumnLayout& layout, ArrowSchema& out);

// Whether `requested` asks for what the layout has: a struct of float32 fields with the same
// names in the same order (its metadata and nullability are left to the asker).
bool same_columns(const ArrowSchema& requested, const ColumnLayout& layout) noexcept;

}  // namespace tarnex::vormant
