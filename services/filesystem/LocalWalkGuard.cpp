#include "services/filesystem/LocalWalkGuard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "services/UniqueFd.h"
#include "services/filesystem/IdentitySet.h"
#include "services/filesystem/ListedEntry.h"
#include "services/filesystem/ListingInodes.h"
#include "services/filesystem/MountPointFolders.h"
#include "services/filesystem/NativeText.h"

namespace quavelle {
namespace {

#ifdef O_PATH
constexpr int kFolderHandleFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderHandleFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The folder whose entries are looked up, held open between lookups.
class FolderHandle {
 public:
  void Open(const std::string& path) { fd_ = UniqueFd(::open(path.c_str(), kFolderHandleFlags)); }
  bool IsOpen() const { return static_cast<bool>(fd_); }
  int get() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

struct Identity {
  std::uint64_t device;
  std::uint64_t inode;
};

class LocalWalkGuard final : public WalkGuard {
 public:
  bool FirstVisit(const std::u16string& path) override {
    // Unreadable identities count as new: the service then reports the real failure.
    if (!TextToNativePathExactly(path, native_)) return true;
    if (const std::optional<Identity> listed = IdentityFromListing()) {
      return seen_.Insert(listed->device, listed->inode);
    }
    const std::optional<Identity> looked = LookUp();
    if (!looked) return true;
    return seen_.Insert(looked->device, looked->inode);
  }

 private:
  // The identity the files listing already read for the entry it handed out
  // last, when the path names exactly that entry and the listing can be
  // believed; the same (st_dev, st_ino) that looking the path up would give.
  std::optional<Identity> IdentityFromListing() {
    const ListedEntry& last = LastListedEntry();
    if (last.owner == nullptr || last.path != native_) return std::nullopt;
    if (!last.followed && !ListingInodeIsFileInodeIn(last)) return std::nullopt;
    return Identity{last.device, last.inode};
  }

  // Decided once for each folder in a row of its entries.
  bool ListingInodeIsFileInodeIn(const ListedEntry& entry) {
    if (entry.device != trustFolder_.device || entry.folderInode != trustFolder_.inode ||
        entry.fileSystemType != trustType_) {
      trustFolder_ = Identity{entry.device, entry.folderInode};
      trustType_ = entry.fileSystemType;
      trusted_ = ListingInodeIsFileInode(entry.fileSystemType) && !HoldsMountPoint(trustFolder_);
    }
    return trusted_;
  }

  // The mount table is read once a run, the first time a listing could be
  // believed: a file mounted inside the tree later in the run goes unnoticed.
  bool HoldsMountPoint(const Identity& folder) {
    if (!mountPoints_) mountPoints_ = MountPointFolders::Read();
    return !mountPoints_->Known() || mountPoints_->Holds(folder.device, folder.inode);
  }

  // Only the identity is asked for, and without asking the server again: an
  // inode's number never changes, and a network client that has looked the
  // name up (a document read ahead) answers from what it holds.
  std::optional<Identity> LookUp() {
    // Most calls name entries of the same folder as the call before: a handle on
    // that folder spares the kernel the walk down the whole path each time.
    int dir = AT_FDCWD;
    const char* name = native_.c_str();
    const std::size_t slash = native_.rfind('/');
    if (slash != std::string::npos && slash > 0 && slash + 1 < native_.size()) {
      const std::string_view parent(native_.data(), slash);
      if (parent != parentPath_) {
        parentPath_.assign(parent);
        parent_.Open(parentPath_);
      }
      if (parent_.IsOpen()) {
        dir = parent_.get();
        name += slash + 1;
      }
    }
    struct statx st {};
    if (::statx(dir, name, AT_STATX_DONT_SYNC, STATX_INO, &st) != 0 || !(st.stx_mask & STATX_INO))
      return std::nullopt;
    return Identity{makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino};
  }

  IdentitySet seen_;
  std::string native_;  // reused, as is the parent's path
  std::optional<MountPointFolders> mountPoints_;
  Identity trustFolder_{0, 0};
  std::int64_t trustType_ = 0;
  bool trusted_ = false;
  std::string parentPath_;
  FolderHandle parent_;
};

}  // namespace

std::unique_ptr<WalkGuard> CreateLocalWalkGuard() { return std::make_unique<LocalWalkGuard>(); }

}  // namespace quavelle
