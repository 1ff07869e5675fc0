#pragma once

#include <memory>
#include <string>

#include "services/FileSystemService.h"

namespace quavelle {

// A folder object for nativePath, an absolute path without trailing separator
// (except the root) that named a folder when it was checked. Its collections read
// the directory lazily, one entry per element handed out; a subfolders listing
// that follows a complete files listing hands out the folders that one passed
// over instead, when the directory provably has not changed since.
std::unique_ptr<Folder> MakeLocalFolder(std::string nativePath);

}  // namespace quavelle
