#pragma once

#include <string_view>

#include "services/ServiceError.h"

namespace quavelle::docserver {

// The failure for a system call's errno: "<action> '<path>': <reason>", numbered
// 53, 61, 70 or 75 by the kind of failure.
ServiceError ErrnoError(int error, std::u16string_view action, std::u16string_view path);

}  // namespace quavelle::docserver
