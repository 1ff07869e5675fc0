#pragma once

#include <cstdint>
#include <string>

#include "services/UniqueFd.h"

namespace quavelle::docserver {

// What identifies a file's content on disk, and the attributes a replacement keeps.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint32_t mode = 0;  // permission bits only
  std::uint32_t owner = 0;
  std::uint32_t group = 0;

  bool SameContentAs(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedNs == other.modifiedNs;
  }
};

// A regular file opened for reading, without blocking on special files.
class DocumentFile {
 public:
  // Throws 53/70/75 naming path; a FIFO, device or folder fails with 75.
  static DocumentFile Open(const std::u16string& path);
  // Takes over fd, a regular file open for reading.
  static DocumentFile Adopt(UniqueFd fd, const std::u16string& path);

  int fd() const { return fd_.get(); }
  // The descriptor, for the caller to close; this no longer holds it.
  UniqueFd ReleaseDescriptor() { return std::move(fd_); }

  // Lets go of the file for a while (a file server will not replace an open
  // file). The descriptor's number stays taken, by /dev/null, so that a reader
  // holding it reads nothing rather than some other file.
  void Suspend();
  // Takes the file at path back under the same number when it still has this
  // identity's content, after a Suspend that no replacement followed.
  void Resume(const std::u16string& path);
  const FileIdentity& identity() const { return identity_; }

 private:
  DocumentFile(UniqueFd fd, FileIdentity identity) : fd_(std::move(fd)), identity_(identity) {}

  UniqueFd fd_;
  FileIdentity identity_;
  bool suspended_ = false;
};

// The identity of the entry name (following symbolic links) of the folder
// folderFd is open on, or of the open file folderFd itself when name is
// empty, which must still hold expected's content: 1008 when it changed, an
// error naming displayPath when it cannot be read.
FileIdentity UnchangedIdentityAt(int folderFd, const std::string& name,
                                 const FileIdentity& expected, const std::u16string& displayPath);

}  // namespace quavelle::docserver
