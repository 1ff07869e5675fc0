#pragma once

#include <memory>

#include "services/WalkGuard.h"

namespace quavelle {

// Identifies folders and files by device and inode.
std::unique_ptr<WalkGuard> CreateLocalWalkGuard();

}  // namespace quavelle
