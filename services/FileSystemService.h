#pragma once

#include <memory>
#include <string>

#include "services/Collection.h"

// The file-system service: folders and files, drive names, drive existence.
// Every member may throw ServiceError; arguments passed by reference are left unchanged.
namespace quavelle {

class File {
 public:
  virtual ~File() = default;
  virtual std::u16string Path() = 0;
};

class Folder {
 public:
  virtual ~Folder() = default;
  // The files directly in the folder, in the service's own order.
  virtual std::unique_ptr<Collection<File>> Files() = 0;
  // The folders directly in the folder, in the service's own order.
  virtual std::unique_ptr<Collection<Folder>> subfolders() = 0;
  virtual std::u16string Path() = 0;
};

class FileSystemService {
 public:
  virtual ~FileSystemService() = default;
  // Fails when path names no folder (the empty path names none).
  virtual std::unique_ptr<Folder> GetFolder(const std::u16string& path) = 0;
  // The drive part the path begins with ("C:", "\\srv1\proj"), copied from it; "" when none.
  virtual std::u16string GetDriveName(const std::u16string& path) = 0;
  // True when that drive exists on this machine; false for "".
  virtual bool DriveExists(const std::u16string& drive) = 0;
};

}  // namespace quavelle
