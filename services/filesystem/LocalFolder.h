#pragma once

#include <memory>
#include <string>

#include "services/FileSystemService.h"

namespace quavelle {

// A folder object for nativePath, an absolute path without trailing separator
// (except the root) that named a folder when it was checked. Its collections read
// the directory lazily, one entry per element handed out.
std::unique_ptr<Folder> MakeLocalFolder(std::string nativePath);

}  // namespace quavelle
