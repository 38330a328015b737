// Deadlines of many transfers in a min-heap, for a loop that must find the
// next one due among thousands without looking at each. Entries are never
// removed in place: a transfer whose deadline moved pushes a new entry, and
// the caller skips popped entries that no longer match (lazy deletion), so
// each step is O(log n) and nothing allocates once the heap has grown.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tftp/ClientTransfer.h"

namespace tarnwick::tftp {

class DeadlineHeap {
 public:
  struct Entry {
    TimePoint when;
    std::size_t id;
    std::uint64_t generation;  // of the slot when pushed: a reused slot's old entries are stale
  };

  void Push(TimePoint when, std::size_t id, std::uint64_t generation) {
    entries_.push_back(Entry{when, id, generation});
    std::push_heap(entries_.begin(), entries_.end(), Later);
  }
  bool Empty() const { return entries_.empty(); }
  const Entry& Top() const { return entries_.front(); }
  void Pop() {
    std::pop_heap(entries_.begin(), entries_.end(), Later);
    entries_.pop_back();
  }
  std::size_t Size() const { return entries_.size(); }

 private:
  static bool Later(const Entry& a, const Entry& b) { return a.when > b.when; }
  std::vector<Entry> entries_;
};

}  // namespace tarnwick::tftp
