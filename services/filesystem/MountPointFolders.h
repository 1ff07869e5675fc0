#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quavelle {

// The folders, by device and inode, that held a mount point (of a mount whose
// parent mount is of a type on which ListingInodeIsFileInode holds) when the
// mount table was read: a file mounted over a folder's entry is listed with the
// inode it hides, so listings of these folders cannot be taken at their word.
class MountPointFolders {
 public:
  // Reads this process's mount table and looks up the folder of each mount point.
  static MountPointFolders Read();

  // False when the mount table could not be read: then no folder is known to be free of them.
  bool Known() const noexcept { return known_; }
  bool Holds(std::uint64_t device, std::uint64_t inode) const noexcept;

 private:
  bool known_ = false;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> folders_;
};

}  // namespace quavelle
