#pragma once

#include <string>

namespace quavelle::docserver {

// Whether each request on the file system that holds fd (or path) is a round
// trip to a server, or to a user-space file system, which network clients
// mostly are. There, fewer and overlapping requests matter more than the
// bytes they move; on a local disk the same tricks only cost.
bool RoundTripsAt(int fd);
bool RoundTripsAt(const std::string& path);

}  // namespace quavelle::docserver
