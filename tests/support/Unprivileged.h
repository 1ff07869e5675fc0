#pragma once

#include <functional>

namespace quavelle::testing {

// Runs body in a forked child that first becomes the user nobody (when run as
// root), so that permission bits apply to it; body's result (0..254), or -1
// when that fails.
int RunUnprivileged(const std::function<int()>& body);

}  // namespace quavelle::testing
