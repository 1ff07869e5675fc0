#include "services/filesystem/LocalWalkGuard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "services/filesystem/IdentitySet.h"
#include "services/filesystem/NativeText.h"

namespace quavelle {
namespace {

#ifdef O_PATH
constexpr int kFolderHandleFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderHandleFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

class FolderHandle {
 public:
  FolderHandle() = default;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  ~FolderHandle() { Close(); }

  void Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), kFolderHandleFlags);
  }
  bool IsOpen() const { return fd_ >= 0; }
  int get() const { return fd_; }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

class LocalWalkGuard final : public WalkGuard {
 public:
  bool FirstVisit(const std::u16string& path) override {
    struct stat st {};
    // Unreadable identities count as new: the service then reports the real failure.
    if (!TextToNativePathExactly(path, native_) || !StatFollowingLinks(st)) return true;
    return seen_.Insert(st.st_dev, st.st_ino);
  }

 private:
  bool StatFollowingLinks(struct stat& st) {
    // Most calls name entries of the same folder as the call before: a handle on
    // that folder spares the kernel the walk down the whole path each time.
    const std::size_t slash = native_.rfind('/');
    if (slash != std::string::npos && slash > 0 && slash + 1 < native_.size()) {
      const std::string_view parent(native_.data(), slash);
      if (parent != parentPath_) {
        parentPath_.assign(parent);
        parent_.Open(parentPath_);
      }
      if (parent_.IsOpen())
        return ::fstatat(parent_.get(), native_.c_str() + slash + 1, &st, 0) == 0;
    }
    return ::stat(native_.c_str(), &st) == 0;
  }

  IdentitySet seen_;
  std::string native_;  // reused, as is the parent's path
  std::string parentPath_;
  FolderHandle parent_;
};

}  // namespace

std::unique_ptr<WalkGuard> CreateLocalWalkGuard() { return std::make_unique<LocalWalkGuard>(); }

}  // namespace quavelle
