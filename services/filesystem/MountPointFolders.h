#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quavelle {

// The mount points, unescaped, of the mounts whose parent mount is of a type on
// which ListingInodeIsFileInode holds, from the text of /proc/self/mountinfo.
// A file mounted over a folder's entry is listed with the inode it hides, so
// listings of the folders holding these cannot be taken at their word.
std::vector<std::string> MountPointsOnListedTypes(std::string_view mountTable);

// The folders, by device and inode, that held one of those mount points when
// the mount table was read.
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
