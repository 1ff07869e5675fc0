#pragma once

#include <memory>

#include "services/FileSystemService.h"

namespace quavelle {

// The file-system service over std::filesystem, for platforms without automation.
std::unique_ptr<FileSystemService> CreateLocalFileSystem();

}  // namespace quavelle
