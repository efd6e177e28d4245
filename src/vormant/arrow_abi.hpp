// The structs of the Arrow C data interface and C stream interface, the ABI that every Arrow
// library shares, and what this module's exports are built of. Guarded by the interface's own
// macros, so that another definition of the same ABI may come first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE
}

namespace tarnex::vormant {

// The release callback of a node (ArrowSchema, ArrowArray or ArrowArrayStream) whose
// private_data is a `Holder` made with new: frees it and marks the node released.
template <class Holder, class Node>
void release_holder(Node* node) noexcept {
  delete static_cast<Holder*>(node->private_data);
  node->release = nullptr;
}

// The children of a parent node, owned by the parent's holder. A consumer may move a child out
// (taking its release with it), so only the children still unreleased are released here.
template <class Node>
class ChildNodes {
 public:
  explicit ChildNodes(std::size_t count) : nodes_(count, Node{}), pointers_(count) {
    for (std::size_t i = 0; i < count; ++i) pointers_[i] = &nodes_[i];
  }
  ChildNodes(const ChildNodes&) = delete;
  ChildNodes& operator=(const ChildNodes&) = delete;
  ~ChildNodes() {
    for (Node& node : nodes_) {
      if (node.release != nullptr) node.release(&node);
    }
  }

  Node& operator[](std::size_t index) noexcept { return nodes_[index]; }
  Node** pointers() noexcept { return pointers_.data(); }
  std::int64_t count() const noexcept { return static_cast<std::int64_t>(nodes_.size()); }

 private:
  std::vector<Node> nodes_;  // never resized: the pointers stay valid
  std::vector<Node*> pointers_;
};

}  // namespace tarnex::vormant
