#include "services/filesystem/IdentitySet.h"

namespace quavelle {
namespace {

std::uint64_t Mix(std::uint64_t device, std::uint64_t inode) {
  std::uint64_t h = inode ^ (device * 0x9E3779B97F4A7C15ULL);
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  return h;
}

}  // namespace

bool IdentitySet::Insert(std::uint64_t device, std::uint64_t inode) {
  if (device == 0 && inode == 0) {
    if (hasZeroPair_) return false;
    hasZeroPair_ = true;
    ++size_;
    return true;
  }
  // Kept at most three quarters full so that probes stay short.
  if ((size_ + 1) * 4 > slots_.size() * 3) Grow();
  if (!InsertInto(slots_, Slot{device, inode})) return false;
  ++size_;
  return true;
}

bool IdentitySet::InsertInto(std::vector<Slot>& slots, const Slot& wanted) {
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = Mix(wanted.device, wanted.inode) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots[i];
    if (slot.device == wanted.device && slot.inode == wanted.inode) return false;
    if (slot.device == 0 && slot.inode == 0) {
      slot = wanted;
      return true;
    }
  }
}

void IdentitySet::Grow() {
  std::vector<Slot> larger(slots_.empty() ? 1024 : slots_.size() * 2);
  for (const Slot& slot : slots_) {
    if (slot.device != 0 || slot.inode != 0) InsertInto(larger, slot);
  }
  slots_.swap(larger);
}

}  // namespace quavelle
