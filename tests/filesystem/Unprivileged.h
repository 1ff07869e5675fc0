#pragma once

#include <functional>

namespace quavelle::testing {

// Runs body in a forked child that, when started as root, first becomes the
// user and group nobody, so that permission bits apply to it. Returns body's
// result (0..255), or -1 when the child could not drop privileges or ended
// abnormally.
int RunUnprivileged(const std::function<int()>& body);

}  // namespace quavelle::testing
