#pragma once

#include "services/ServiceError.h"

namespace quavelle {

// The ServiceError a failed POSIX call on a path stands for: missing paths give
// "Path not found", refused access "Permission denied", anything else a
// generic access error.
ServiceError ErrnoError(int err);

// True when err only says the path names nothing (missing, dangling, looping).
bool NamesNothing(int err) noexcept;

}  // namespace quavelle
