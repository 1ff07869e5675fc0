#pragma once

#include <sys/types.h>

#include <string>

#include "services/UniqueFd.h"

namespace quavelle::docserver {

// A new file, open for reading and writing, in a given folder; removed again
// unless Kept() says it has been renamed into place. Its name ends in ".tmp",
// so a walk running meanwhile never takes it for a document. It is always
// closed before it is removed: file servers refuse to delete an open file.
class TempFile {
 public:
  // Created with mode (less the umask) in the folder folderFd is open on,
  // whose path is folder. Throws ServiceError naming displayPath when the
  // folder refuses a new file.
  TempFile(int folderFd, const std::string& folder, const std::u16string& displayPath, mode_t mode);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  const std::string& name() const { return name_; }

  // Closes the file: 0, or the errno close gave (data a network client could
  // not write back).
  int Close();
  // The file has been renamed into place: it is not removed.
  void Kept() { kept_ = true; }
  // Closes and removes the file now: 0, or the errno unlink gave.
  int Remove();

 private:
  UniqueFd folder_;  // its own copy, for the removal
  std::string name_;
  std::string path_;
  UniqueFd fd_;
  bool kept_ = false;
  bool removed_ = false;
};

}  // namespace quavelle::docserver
