#pragma once

#include <string>

#include "services/UniqueFd.h"

namespace quavelle::docserver {

// A new file, open for reading and writing, in a given folder; removed again
// unless Release() says it has been renamed into place. Its name ends in
// ".tmp", so a walk running meanwhile never takes it for a document.
class TempFile {
 public:
  // Throws ServiceError naming displayPath when the folder refuses a new file.
  TempFile(const std::string& folder, const std::u16string& displayPath);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // The file has been moved away; keep it and hand over its descriptor.
  UniqueFd Release();

 private:
  std::string path_;
  UniqueFd fd_;
  bool released_ = false;
};

}  // namespace quavelle::docserver
