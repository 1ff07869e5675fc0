#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quavelle {

// A set of (device, inode) pairs in one flat table: 16 bytes a slot, no
// allocation per entry, so a run over millions of files stays small.
class IdentitySet {
 public:
  // True when the pair was not in the set before.
  bool Insert(std::uint64_t device, std::uint64_t inode);
  std::size_t size() const noexcept { return size_; }

 private:
  struct Slot {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;  // 0 with device 0 marks a free slot
  };

  bool InsertInto(std::vector<Slot>& slots, const Slot& wanted);
  void Grow();

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
  bool hasZeroPair_ = false;  // the one pair a free slot cannot hold
};

}  // namespace quavelle
